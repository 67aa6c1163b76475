// strong_read.cpp -- listing and extracting strong archives (see strong_archive.h).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "archive/output_file.h"
#include "codec/decoder.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "names/short_string.h"
#include "ops/strong_archive.h"
#include "ops/strong_walk.h"
#include "ops/unix_entries.h"
#include "ops/workers.h"
#include "strong/entry_data.h"

namespace hedgerow::ops {

namespace {

// Appends a copy of entry to the host's list; false when memory runs out.
bool AppendListed(HidFileList& list, const HidFileEntry& entry) {
    void* block = nullptr;
    if (!names::AllocBlock(&block, sizeof(HidFileEntry))) return false;
    auto* listed = static_cast<HidFileEntry*>(block);
    *listed = entry;
    archive::AppendToList(list, listed);
    return true;
}

// The time, attributes and mode the finished file is given before it takes its name
// (set-user and set-group bits only when asked; a time the file system cannot hold is
// left as it comes rather than failing).
archive::OutputForm FormOf(const Context& cx, const strong::Record& record) {
    archive::OutputForm form;
    form.attributes = record.attributes;
    form.timed = true;
    form.seconds = record.mtime_seconds;
    form.nanoseconds = record.mtime_nanoseconds;
    form.time_may_fail = true;
    form.mode = RestoredMode(cx, record.unix_mode);
    return form;
}

// Tells the host of a damaged entry; false (kCancelled) when it answers 2.
bool ReportDamaged(Context& cx, const HidFileEntry& entry) {
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return true;
    if (slot.proc(slot.user, entry.name) == 2) return Fail(cx.session, Status::kCancelled);
    return true;
}

enum class EntryOutcome { kWhole, kDamaged, kStop };

// An entry selected for extraction: its record, its listed form and where its data lies.
struct Selected {
    strong::Record record;
    HidFileEntry entry {};
    uint64_t data_offset = 0;
};

// Where an entry goes: the output path built from its name, told to the host, and the
// host's answer about an existing file. kWhole with *go false when the host keeps what
// exists; kStop with the status set.
EntryOutcome PrepareOutput(Context& cx, const HidFileEntry& entry, char path[archive::kOutputPathCapacity],
                           size_t* relative_start, bool* go) {
    *go = false;
    if (!archive::BuildOutputPath(cx.session, entry.name, path, relative_start)) return EntryOutcome::kStop;
    const auto& name_slot = cx.session.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        const std::string shown = std::string("\\") + entry.name;
        name_slot.proc(name_slot.user, shown.c_str(), path);
    }
    const int32_t answer = names::AskReplaceOnExtract(cx.session, entry, path);
    if (answer == 2) {
        Fail(cx.session, Status::kCancelled);
        return EntryOutcome::kStop;
    }
    *go = answer != 1;
    return EntryOutcome::kWhole;
}

// Checking: the host is told the entry's name (and no path), and nothing is written.
void NameCheckedEntry(Context& cx, const HidFileEntry& entry) {
    const auto& name_slot = cx.session.callbacks.file_name;
    if (name_slot.proc == nullptr) return;
    const std::string shown = std::string("\\") + entry.name;
    name_slot.proc(name_slot.user, shown.c_str(), "");
}

// Checking by workers: the calling thread reports an entry's bytes when it takes it (in
// pieces the procedure's count holds).
bool ReportProgress(Context& cx, uint64_t size) {
    const auto& progress = cx.session.callbacks.progress;
    if (progress.proc == nullptr) return true;
    do {
        const uint64_t piece = std::min<uint64_t>(size, INT32_MAX);
        if (progress.proc(progress.user, 100, static_cast<int32_t>(piece)) == 0) return Fail(cx.session, Status::kCancelled);
        size -= piece;
    } while (size > 0);
    return true;
}

// One entry by the calling thread: its output file (none when checking), its data opened
// and checked.
EntryOutcome ExtractEntry(Context& cx, StrongReader& r, archive::OutputRoot& root, const Selected& e, ReadMode mode) {
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    archive::OutputFile out;
    if (mode == ReadMode::kExtract) {
        bool go = false;
        if (const EntryOutcome o = PrepareOutput(cx, e.entry, path, &relative_start, &go);
            o != EntryOutcome::kWhole || !go) {
            return o;
        }
        if (!archive::CreateOutputFile(cx.session, root, path, relative_start, out)) return EntryOutcome::kStop;
    } else {
        NameCheckedEntry(cx, e.entry);
    }
    strong::DataOpener opener;
    if (!platform::SeekTo(r.file.get(), e.data_offset)) {
        Fail(cx.session, Status::kIoError);
        return EntryOutcome::kStop;
    }
    if (!opener.Begin(r.file.get(), e.record, r.header.chunk_size)) {
        Fail(cx.session, Status::kNoMemory);
        return EntryOutcome::kStop;
    }
    switch (strong::UnsealFileData(cx.session.status, cx.session.callbacks.progress, cx.decoder, cx.stream, opener,
                                   e.record, out.get())) {
        case strong::Unsealed::kWhole: break;
        case strong::Unsealed::kDamaged: return EntryOutcome::kDamaged;  // the file goes with `out`
        case strong::Unsealed::kStop: return EntryOutcome::kStop;
    }
    if (mode == ReadMode::kCheck) return EntryOutcome::kWhole;
    return out.Commit(cx.session, FormOf(cx, e.record)) ? EntryOutcome::kWhole : EntryOutcome::kStop;
}

// What a worker made of one entry: the file in the slot's spill, checked.
struct UnsealedJob {
    strong::Unsealed outcome = strong::Unsealed::kStop;
    Status failure = Status::kOk;
    Spill spill;
};

// The job of a worker: open the entry's data through its own handle of the archive and
// expand it into the slot's spill (nowhere when checking).
void UnsealJob(Worker& w, UnsealedJob& job, const Selected& e, const char* archive_name, uint32_t chunk_size,
               ReadMode mode) {
    job.outcome = strong::Unsealed::kStop;
    job.failure = Status::kIoError;
    if (!w.archive_file) w.archive_file = platform::OpenFile(archive_name, "rb");
    if (!w.archive_file || (mode == ReadMode::kExtract && !job.spill.Open()) ||
        !platform::SeekTo(w.archive_file.get(), e.data_offset)) {
        return;
    }
    if (e.record.Compressed() && !w.decoder.window && !codec::AllocDecoder(w.decoder, w.stream)) {
        job.failure = Status::kNoMemory;
        w.status = 0;
        return;
    }
    strong::DataOpener opener;
    if (!opener.Begin(w.archive_file.get(), e.record, chunk_size)) {
        job.failure = Status::kNoMemory;
        return;
    }
    std::FILE* out = mode == ReadMode::kExtract ? job.spill.file.get() : nullptr;
    job.outcome = strong::UnsealFileData(w.status, w.no_progress, w.decoder, w.stream, opener, e.record, out);
    job.failure = w.status != 0 ? static_cast<Status>(w.status) : Status::kIoError;
    w.status = 0;
}

// The calling thread's part of one entry, in list order: the host's questions, and the
// worker's file copied into the output file.
EntryOutcome TakeUnsealed(Context& cx, archive::OutputRoot& root, const Selected& e, UnsealedJob& job, ReadMode mode) {
    if (mode == ReadMode::kCheck) {
        NameCheckedEntry(cx, e.entry);
        if (!ReportProgress(cx, e.record.unpacked_size)) return EntryOutcome::kStop;
        switch (job.outcome) {
            case strong::Unsealed::kWhole: return EntryOutcome::kWhole;
            case strong::Unsealed::kDamaged: return EntryOutcome::kDamaged;
            case strong::Unsealed::kStop: Fail(cx.session, job.failure); return EntryOutcome::kStop;
        }
    }
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    bool go = false;
    if (const EntryOutcome o = PrepareOutput(cx, e.entry, path, &relative_start, &go); o != EntryOutcome::kWhole || !go) {
        return o;
    }
    switch (job.outcome) {
        case strong::Unsealed::kWhole: break;
        case strong::Unsealed::kDamaged: return EntryOutcome::kDamaged;
        case strong::Unsealed::kStop: Fail(cx.session, job.failure); return EntryOutcome::kStop;
    }
    archive::OutputFile out;
    if (!archive::CreateOutputFile(cx.session, root, path, relative_start, out) ||
        !CopySpillOut(cx, job.spill, out.get(), e.record.unpacked_size, e.record.unpacked_size) ||
        !out.Commit(cx.session, FormOf(cx, e.record))) {
        return EntryOutcome::kStop;
    }
    return EntryOutcome::kWhole;
}

// Counts a damaged entry and tells the host; false when the run stops.
bool Settle(Context& cx, EntryOutcome outcome, const HidFileEntry& entry, uint32_t* damaged) {
    switch (outcome) {
        case EntryOutcome::kWhole: return true;
        case EntryOutcome::kStop: return false;
        case EntryOutcome::kDamaged: ++*damaged; return ReportDamaged(cx, entry);
    }
    return false;
}

// Releases the workers' decoders however the run ends.
struct DecoderPoolRelease {
    std::vector<std::unique_ptr<Worker>>& pool;
    ~DecoderPoolRelease() {
        for (auto& worker : pool) codec::FreeDecoder(worker->decoder);
    }
};

// Extracts the selected entries in list order, by the calling thread alone or by workers.
// False when the run stopped (status set).
bool ExtractSelected(Context& cx, StrongReader& r, const std::vector<Selected>& selected, uint32_t* damaged,
                     ReadMode mode) {
    const int workers = std::min<int>(WorkerCount(cx.archive), static_cast<int>(std::max<size_t>(selected.size(), 1)));
    archive::OutputRoot root;  // opened when the first file is written, then kept
    if (!kWorkersBuilt || workers <= 1) {
        if (!codec::AllocDecoder(cx.decoder, cx.stream)) return false;
        struct DecoderGuard {
            codec::DecoderState& decoder;
            ~DecoderGuard() { codec::FreeDecoder(decoder); }
        } decoder_guard {cx.decoder};
        for (const Selected& e : selected) {
            if (!Settle(cx, ExtractEntry(cx, r, root, e, mode), e.entry, damaged)) return false;
        }
        return true;
    }
    std::atomic<bool> stop {false};
    std::vector<std::unique_ptr<Worker>> pool;
    for (int i = 0; i < workers; ++i) pool.push_back(std::make_unique<Worker>(stop));
    const DecoderPoolRelease release {pool};
    const size_t ahead = JobsAhead(workers);
    std::vector<UnsealedJob> slots(ahead);
    const std::string archive_name = cx.archive.name;
    const uint32_t chunk_size = r.header.chunk_size;
    const auto run = [&](int worker, size_t job) {
        UnsealJob(*pool[static_cast<size_t>(worker)], slots[job % ahead], selected[job], archive_name.c_str(), chunk_size,
                  mode);
    };
    const auto take = [&](size_t job) {
        return Settle(cx, TakeUnsealed(cx, root, selected[job], slots[job % ahead], mode), selected[job].entry, damaged);
    };
    switch (RunInOrder(selected.size(), workers, ahead, stop, run, take)) {
        case RunOutcome::kCompleted: return true;
        case RunOutcome::kStopped: return false;
        case RunOutcome::kOutOfMemory: return Fail(cx.session, Status::kNoMemory);
    }
    return false;
}

}  // namespace

void ListStrongArchive(Context& cx, HidFileList& list, const FileMaskList& masks) {
    archive::InitHidFileList(list);
    archive::ArchiveLock lock;  // no writer swaps the archive while it is read
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kShared, lock)) return;
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

void ReadStrongArchive(Context& cx, const FileMaskList& masks, ReadMode mode) {
    ClearStatus(cx.session);
    if (mode == ReadMode::kExtract && (cx.session.output_path_refused || cx.session.relative_path_refused)) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    archive::ArchiveLock lock;  // no writer swaps the archive while it is read
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kShared, lock)) return;
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    // The records first (they are small): the entries to extract and where their data lies.
    // A record that fails ends the walk; the entries before it are still extracted, and the
    // failure is the outcome.
    const names::MaskIndex index = names::IndexMasks(masks);
    std::vector<Selected> selected;
    uint16_t walk_failure = 0;
    for (;;) {
        const int64_t frame = platform::Tell(r.file.get());
        Selected e;
        const StrongNext next = NextStrongEntry(cx, r, &e.record, &e.data_offset);
        if (next == StrongNext::kFailed) {
            walk_failure = cx.session.status;
            cx.session.status = 0;
            break;
        }
        if (next == StrongNext::kEnd) break;
        FillStrongEntry(e.record, static_cast<uint64_t>(frame), &e.entry);
        const bool wanted = names::MatchMaskIndex(e.entry.name, index);
        if (!SkipStrongData(cx, r, e.data_offset, e.record)) return;
        if (wanted) selected.push_back(std::move(e));
    }
    uint32_t damaged = 0;
    if (!ExtractSelected(cx, r, selected, &damaged, mode)) return;
    if (walk_failure != 0) {
        cx.session.status = walk_failure;
    } else if (selected.empty()) {
        Fail(cx.session, Status::kNoEntries);
    } else if (damaged > 0) {
        Fail(cx.session, Status::kDamagedEntries);
    }
}

}  // namespace hedgerow::ops
