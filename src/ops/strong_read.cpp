// strong_read.cpp -- listing and extracting strong archives (see strong_archive.h).
#include <cstring>
#include <string>
#include <vector>

#include "archive/open_list.h"
#include "archive/output_file.h"
#include "codec/decoder.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "names/short_string.h"
#include "ops/strong_archive.h"
#include "ops/strong_walk.h"
#include "strong/entry_data.h"

namespace hedgerow::ops {

namespace {

// Appends a copy of entry to the host's list; false when memory runs out.
bool AppendListed(HidFileList& list, const HidFileEntry& entry) {
    void* block = nullptr;
    if (!names::AllocBlock(&block, sizeof(HidFileEntry))) return false;
    auto* listed = static_cast<HidFileEntry*>(block);
    *listed = entry;
    listed->next = nullptr;
    if (list.first == nullptr) {
        list.first = listed;
    } else {
        list.last->next = listed;
    }
    list.last = listed;
    ++list.count;
    return true;
}

// Restores time, attributes and mode on the finished file (set-user and set-group bits
// are not restored).
bool RestoreMetadata(Context& cx, const strong::Record& record, const char* path) {
    if (!platform::SetModificationTime(path, record.mtime_seconds, record.mtime_nanoseconds)) {
        // A time the file system cannot hold is left as it is rather than failing.
        if (!platform::PathExists(path)) return Fail(cx.session, Status::kIoError);
    }
    (void)platform::SetAttributes(path, record.attributes);
    if (record.unix_mode != 0) (void)platform::SetPermissions(path, record.unix_mode & 01777);
    return true;
}

// Tells the host of a damaged entry; false (kCancelled) when it answers 2.
bool ReportDamaged(Context& cx, const HidFileEntry& entry) {
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return true;
    if (slot.proc(slot.user, entry.name) == 2) return Fail(cx.session, Status::kCancelled);
    return true;
}

enum class EntryOutcome { kWhole, kDamaged, kStop };

// One entry: its output file, its data opened and checked. kStop with the status set.
EntryOutcome ExtractEntry(Context& cx, StrongReader& r, const strong::Record& record, const HidFileEntry& entry,
                          uint64_t data_offset) {
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    if (!archive::BuildOutputPath(cx.session, entry.name, path, &relative_start)) return EntryOutcome::kStop;
    const auto& name_slot = cx.session.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        const std::string shown = std::string("\\") + entry.name;
        name_slot.proc(name_slot.user, shown.c_str(), path);
    }
    const int32_t answer = names::AskReplaceOnExtract(cx.session, entry, path);
    if (answer == 1) return SkipStrongData(cx, r, data_offset, record) ? EntryOutcome::kWhole : EntryOutcome::kStop;
    if (answer == 2) {
        Fail(cx.session, Status::kCancelled);
        return EntryOutcome::kStop;
    }
    archive::OutputFile out;
    if (!archive::CreateOutputFile(cx.session, path, relative_start, out)) return EntryOutcome::kStop;
    strong::DataOpener opener;
    if (!opener.Begin(r.file.get(), record, r.header.chunk_size)) {
        Fail(cx.session, Status::kNoMemory);
        return EntryOutcome::kStop;
    }
    switch (strong::UnsealFileData(cx.session, cx.decoder, cx.stream, opener, record, out.get())) {
        case strong::Unsealed::kWhole: break;
        case strong::Unsealed::kDamaged: return EntryOutcome::kDamaged;  // the file goes with `out`
        case strong::Unsealed::kStop: return EntryOutcome::kStop;
    }
    if (!out.Commit(cx.session)) return EntryOutcome::kStop;
    return RestoreMetadata(cx, record, path) ? EntryOutcome::kWhole : EntryOutcome::kStop;
}

}  // namespace

void ListStrongArchive(Context& cx, HidFileList& list, const FileMaskList& masks) {
    archive::InitHidFileList(list);
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    const names::MaskIndex index = names::IndexMasks(masks);
    for (;;) {
        const int64_t frame = platform::Tell(r.file.get());
        strong::Record record;
        uint64_t data_offset = 0;
        const StrongNext next = NextStrongEntry(cx, r, &record, &data_offset);
        if (next == StrongNext::kFailed) return;
        if (next == StrongNext::kEnd) break;
        HidFileEntry entry;
        FillStrongEntry(record, static_cast<uint64_t>(frame), &entry);
        if (names::MatchMaskIndex(entry.name, index) && !AppendListed(list, entry)) {
            Fail(cx.session, Status::kNoMemory);
            return;
        }
        if (!SkipStrongData(cx, r, data_offset, record)) return;
    }
    if (list.count == 0) Fail(cx.session, Status::kNoEntries);
}

void ExtractStrongArchive(Context& cx, const FileMaskList& masks) {
    ClearStatus(cx.session);
    if (cx.session.output_path_refused || cx.session.relative_path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    struct DecoderGuard {
        codec::DecoderState& decoder;
        ~DecoderGuard() { codec::FreeDecoder(decoder); }
    } decoder_guard {cx.decoder};
    const names::MaskIndex index = names::IndexMasks(masks);
    uint32_t selected = 0;
    uint32_t damaged = 0;
    for (;;) {
        const int64_t frame = platform::Tell(r.file.get());
        strong::Record record;
        uint64_t data_offset = 0;
        const StrongNext next = NextStrongEntry(cx, r, &record, &data_offset);
        if (next == StrongNext::kFailed) return;
        if (next == StrongNext::kEnd) break;
        HidFileEntry entry;
        FillStrongEntry(record, static_cast<uint64_t>(frame), &entry);
        if (!names::MatchMaskIndex(entry.name, index)) {
            if (!SkipStrongData(cx, r, data_offset, record)) return;
            continue;
        }
        ++selected;
        switch (ExtractEntry(cx, r, record, entry, data_offset)) {
            case EntryOutcome::kWhole: break;
            case EntryOutcome::kStop: return;
            case EntryOutcome::kDamaged:
                ++damaged;
                if (!ReportDamaged(cx, entry)) return;
                break;
        }
        // Whatever of the data was read, the next record lies behind all of it.
        if (!SkipStrongData(cx, r, data_offset, record)) return;
    }
    if (selected == 0) {
        Fail(cx.session, Status::kNoEntries);
    } else if (damaged > 0) {
        Fail(cx.session, Status::kDamagedEntries);
    }
}

}  // namespace hedgerow::ops
