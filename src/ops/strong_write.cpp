// strong_write.cpp -- creating, updating, deleting from and re-keying strong archives (see
// strong_archive.h). Every change writes a new archive beside the old one and swaps it in
// when it is complete; records are sealed anew at their new positions, the data of kept
// entries is copied as it is.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "archive/records.h"
#include "names/masks.h"
#include "names/paths.h"
#include "names/replace_query.h"
#include "ops/create.h"
#include "ops/rewrite.h"
#include "ops/strong_archive.h"
#include "ops/strong_walk.h"
#include "ops/workers.h"
#include "strong/entry_data.h"

namespace hedgerow::ops {

namespace {

struct MaskListGuard {
    FileMaskList list {};
    ~MaskListGuard() { names::DoneFileMaskList(list); }
};

// A new archive being written: the file, the header and keys, the records' cipher, and
// the position of the next record.
struct StrongWriter {
    NewArchiveFile out;
    strong::Header header;
    strong::KeySchedule keys;
    strong::Aead records;
    uint64_t index = 0;
};

[[nodiscard]] bool BeginWriter(Context& cx, StrongWriter& w) {
    if (!w.out.Create(cx, cx.archive.name)) return false;
    uint8_t bytes[strong::kHeaderSize];
    if (!strong::EncodeHeader(w.header, w.keys, bytes)) return Fail(cx.session, Status::kNoMemory);
    if (platform::WriteBytes(w.out.get(), bytes, sizeof bytes) != sizeof bytes) return Fail(cx.session, Status::kWriteError);
    return w.records.SetKey(w.keys.records) || Fail(cx.session, Status::kNoMemory);
}

[[nodiscard]] bool WriteRecordAt(Context& cx, StrongWriter& w, const strong::Record& record) {
    if (!strong::WriteRecord(w.out.get(), w.records, w.header, w.index, record)) return Fail(cx.session, Status::kWriteError);
    ++w.index;
    return true;
}

// The end record, which says how many entries there are, and the swap.
[[nodiscard]] bool FinishWriter(Context& cx, StrongWriter& w) {
    strong::Record end;
    end.kind = strong::EntryKind::kEnd;
    if (!strong::WriteRecord(w.out.get(), w.records, w.header, w.index, end)) return Fail(cx.session, Status::kWriteError);
    // A new archive takes its name only while it is free; a rewrite replaces the old one.
    if (cx.archive.new_archive) return w.out.CommitNew(cx, false);
    return SwapInNewArchive(cx, cx.archive.name, w.out);
}

// Copies an entry of the old archive: its record sealed anew at the next position, its
// data as it is.
[[nodiscard]] bool CopyEntry(Context& cx, StrongReader& r, StrongWriter& w, const strong::Record& record,
                             uint64_t data_offset) {
    if (!WriteRecordAt(cx, w, record)) return false;
    if (!CopyArchiveBytes(cx, r.file.get(), w.out.get(), data_offset, record.data_length)) return false;
    return SkipStrongData(cx, r, data_offset, record);
}

// One file to add: where it is read from, and its record's name (UTF-8).
struct StrongFile {
    std::string source_path;
    std::string name;       // as the mask gave it, for the host
    std::string stored;     // the record's name
};

// Opens a source and fills its record's fields from the file system; touches no state and
// calls no host, so workers may call it. kFailed with *failure set.
SourceOpen OpenStrongSource(const StrongFile& file, platform::File* source, strong::Record* record, Status* failure) {
    const char* path = file.source_path.c_str();
    if (platform::IsDirectory(path)) return SourceOpen::kSkip;
    *source = platform::OpenFile(path, "rb");
    if (!*source) return SourceOpen::kSkip;
    const int64_t length = platform::Length(source->get());
    if (length < 0 || !platform::GetModificationTime(path, &record->mtime_seconds, &record->mtime_nanoseconds)) {
        *failure = Status::kIoError;
        return SourceOpen::kFailed;
    }
    record->kind = strong::EntryKind::kFile;
    record->name = file.stored;
    (void)platform::GetAttributes(path, &record->attributes);
    if (!platform::GetPermissions(path, &record->unix_mode)) record->unix_mode = 0;
    record->unpacked_size = static_cast<uint64_t>(length);
    return SourceOpen::kOpen;
}

// Appends one file as a new entry: its record (first as a placeholder of the same size,
// then with the sizes and the data key once the data is sealed), then its data. True also
// when the host let an unreadable file be skipped.
[[nodiscard]] bool AddFile(Context& cx, StrongWriter& w, const StrongFile& file) {
    AnnounceSource(cx, file.source_path, file.name);
    platform::File source;
    strong::Record record;
    Status failure = Status::kOk;
    switch (OpenStrongSource(file, &source, &record, &failure)) {
        case SourceOpen::kOpen: break;
        case SourceOpen::kSkip: return SkipOrFail(cx, file.source_path.c_str());
        case SourceOpen::kFailed: return Fail(cx.session, failure);
    }
    std::FILE* out = w.out.get();
    const int64_t record_position = platform::Tell(out);
    if (record_position < 0) return Fail(cx.session, Status::kIoError);
    if (!strong::WriteRecord(out, w.records, w.header, w.index, record)) return Fail(cx.session, Status::kWriteError);
    strong::DataSealer sealer;
    if (!strong::SealFileData(cx.session.status, cx.encoder, cx.stream, source.get(), record.unpacked_size, out, sealer,
                              &record)) {
        return false;
    }
    record.data_length = sealer.SealedBytes();
    record.data_key = sealer.key;
    const int64_t end = platform::Tell(out);
    if (end < 0 || !platform::SeekTo(out, static_cast<uint64_t>(record_position))) return Fail(cx.session, Status::kIoError);
    if (!strong::WriteRecord(out, w.records, w.header, w.index, record)) return Fail(cx.session, Status::kWriteError);
    // Nothing of a longer compressed attempt may stay behind the data.
    if (!platform::SeekTo(out, static_cast<uint64_t>(end)) || !platform::TruncateAt(out, static_cast<uint64_t>(end))) {
        return Fail(cx.session, Status::kWriteError);
    }
    ++w.index;
    return true;
}

// What a worker made of one file: its record, complete with the data key, and its sealed
// data at the start of the slot's spill.
struct SealedJob {
    SourceOpen opened = SourceOpen::kFailed;
    Status failure = Status::kOk;
    strong::Record record;
    Spill spill;
};

// The job of a worker: open the source, compress and seal it into the slot's spill.
void SealJob(Worker& w, SealedJob& job, const StrongFile& file, int level) {
    job.failure = Status::kOk;
    job.record = strong::Record {};
    platform::File source;
    job.opened = OpenStrongSource(file, &source, &job.record, &job.failure);
    if (job.opened != SourceOpen::kOpen) return;
    if (!w.stream.out_buffer) {
        w.encoder.level = level;
        if (!codec::AllocOutputBuffer(w.stream) || !codec::AllocEncoderTables(w.encoder, w.stream)) {
            job.failure = Status::kNoMemory;
            w.status = 0;
            return;
        }
    }
    if (!job.spill.Open()) {
        job.failure = Status::kIoError;
        return;
    }
    strong::DataSealer sealer;
    if (!strong::SealFileData(w.status, w.encoder, w.stream, source.get(), job.record.unpacked_size,
                              job.spill.file.get(), sealer, &job.record)) {
        job.failure = w.status != 0 ? static_cast<Status>(w.status) : Status::kIoError;
        w.status = 0;
        return;
    }
    job.record.data_length = sealer.SealedBytes();
    job.record.data_key = sealer.key;
}

// The calling thread's part of one file: the host's questions and reports, the record and
// the data, in list order.
[[nodiscard]] bool TakeSealed(Context& cx, StrongWriter& w, const StrongFile& file, SealedJob& job) {
    AnnounceSource(cx, file.source_path, file.name);
    if (job.opened == SourceOpen::kSkip) return SkipOrFail(cx, file.source_path.c_str());
    if (job.failure != Status::kOk) return Fail(cx.session, job.failure);
    if (!WriteRecordAt(cx, w, job.record)) return false;
    return CopySpillOut(cx, job.spill, w.out.get(), job.record.data_length, job.record.unpacked_size);
}

// Releases the workers' tables however the run ends.
struct PoolRelease {
    std::vector<std::unique_ptr<Worker>>& pool;
    ~PoolRelease() {
        for (auto& worker : pool) {
            codec::FreeOutputBuffer(worker->stream);
            codec::FreeEncoderTables(worker->encoder);
        }
    }
};

// Adds the files in list order, by the calling thread alone or by workers.
[[nodiscard]] bool AddFiles(Context& cx, StrongWriter& w, const std::vector<StrongFile>& files) {
    const int workers = std::min<int>(WorkerCount(cx.archive), static_cast<int>(std::max<size_t>(files.size(), 1)));
    if (!kWorkersBuilt || workers <= 1) {
        Compressor compressor(cx);
        if (!compressor.Allocate()) return false;
        for (const StrongFile& file : files) {
            if (!AddFile(cx, w, file)) return false;
        }
        return true;
    }
    std::atomic<bool> stop {false};
    std::vector<std::unique_ptr<Worker>> pool;
    for (int i = 0; i < workers; ++i) pool.push_back(std::make_unique<Worker>(stop));
    const PoolRelease release {pool};
    const size_t ahead = JobsAhead(workers);
    std::vector<SealedJob> slots(ahead);
    const int level = cx.archive.level;
    const auto run = [&](int worker, size_t job) {
        SealJob(*pool[static_cast<size_t>(worker)], slots[job % ahead], files[job], level);
    };
    const auto take = [&](size_t job) { return TakeSealed(cx, w, files[job], slots[job % ahead]); };
    switch (RunInOrder(files.size(), workers, ahead, stop, run, take)) {
        case RunOutcome::kCompleted: return true;
        case RunOutcome::kStopped: return false;
        case RunOutcome::kOutOfMemory: return Fail(cx.session, Status::kNoMemory);
    }
    return false;
}

// Adds every named file that is not in skip; counts none.
[[nodiscard]] bool AddNamedFiles(Context& cx, StrongWriter& w, const FileMaskList& named, const NameKeys* skip) {
    std::vector<StrongFile> files;
    for (const FileMaskRecord* mask = named.first; mask; mask = mask->next) {
        if (mask->name[0] == '\0' && mask->extension[0] == '\0') continue;
        StrongFile file;
        file.name = names::MaskPath(*mask);
        if (!SourcePathOf(cx, file.name, &file.source_path)) return false;
        if (skip && IsNameInList(cx.session, *skip, file.name.c_str())) continue;
        const std::string stored =
            names::StoredNameOf(cx.session.relative_path, OptionOn(cx.session, kOptNamesOnly), file.name);
        file.stored = platform::AnsiToUtf8(stored.c_str());
        if (file.stored.empty() || file.stored.size() > strong::kMaxNameBytes) return Fail(cx.session, Status::kNameTooLong);
        files.push_back(std::move(file));
    }
    return AddFiles(cx, w, files);
}

// A new header and its keys for password, for a new archive.
[[nodiscard]] bool NewKeys(Context& cx, StrongWriter& w, const char* password) {
    if (!strong::NewHeader(strong::NewArgon2Parameters(cx.archive), &w.header)) return Fail(cx.session, Status::kIoError);
    return StrongKeysForNewHeader(cx, w.header, password, &w.keys);
}

}  // namespace

void CreateStrongArchive(Context& cx, const FileMaskList& masks, FileMaskList& files) {
    if (!names::CollectNamedMasks(cx.session, masks, files)) return;
    if (files.first == nullptr) {
        Fail(cx.session, Status::kNothingToDo);
        return;
    }
    StrongWriter w;
    if (!NewKeys(cx, w, cx.archive.data_password) || !BeginWriter(cx, w)) return;
    if (!AddNamedFiles(cx, w, files, nullptr)) return;
    if (!FinishWriter(cx, w)) return;
    // The new archive can be used at once, as an opened one.
    cx.archive.new_archive = false;
    cx.archive.cipher_id = archive::kCipherIdStrong;
    cx.archive.first_entry_offset = static_cast<uint32_t>(strong::kHeaderSize);
    cx.archive.read_position = cx.archive.first_entry_offset;
}

void UpdateStrongArchive(Context& cx, const FileMaskList& masks) {
    ClearStatus(cx.session);
    archive::ArchiveLock lock;  // one writer at a time, from the reading to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock)) return;
    MaskListGuard named;
    MaskListGuard kept;
    if (!names::CollectNamedMasks(cx.session, masks, named.list)) return;
    if (named.list.first == nullptr) {
        Fail(cx.session, Status::kNothingToDo);
        return;
    }
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    StrongWriter w;
    w.header = r.header;
    w.keys = r.keys;
    if (!BeginWriter(cx, w)) return;
    const NameKeys named_keys = NamedEntryKeys(cx.session, named.list);
    for (;;) {
        strong::Record record;
        uint64_t data_offset = 0;
        const StrongNext next = NextStrongEntry(cx, r, &record, &data_offset);
        if (next == StrongNext::kFailed) return;
        if (next == StrongNext::kEnd) break;
        HidFileEntry entry;
        FillStrongEntry(record, 0, &entry);
        if (IsNamedEntry(named_keys, entry.name)) {
            const int32_t answer = names::AskReplaceOnUpdate(cx.session, entry, entry.name);
            if (answer == 2) {
                Fail(cx.session, Status::kCancelled);
                return;
            }
            if (answer != 1) {  // replaced: the named file takes its place at the end
                if (!SkipStrongData(cx, r, data_offset, record)) return;
                continue;
            }
            if (!names::AddFileMask(cx.session, entry.name, kept.list)) {
                Fail(cx.session, Status::kNoMemory);
                return;
            }
        }
        if (!CopyEntry(cx, r, w, record, data_offset)) return;
    }
    r.file.reset();
    const NameKeys kept_keys = MaskListKeys(kept.list);
    if (!AddNamedFiles(cx, w, named.list, &kept_keys)) return;
    (void)FinishWriter(cx, w);  // the outcome is in the status word
}

void DeleteFromStrongArchive(Context& cx, const FileMaskList& masks) {
    ClearStatus(cx.session);
    archive::ArchiveLock lock;  // one writer at a time, from the reading to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock)) return;
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    StrongWriter w;
    w.header = r.header;
    w.keys = r.keys;
    if (!BeginWriter(cx, w)) return;
    const names::MaskIndex index = names::IndexMasks(masks);
    uint32_t deleted = 0;
    for (;;) {
        strong::Record record;
        uint64_t data_offset = 0;
        const StrongNext next = NextStrongEntry(cx, r, &record, &data_offset);
        if (next == StrongNext::kFailed) return;
        if (next == StrongNext::kEnd) break;
        HidFileEntry entry;
        FillStrongEntry(record, 0, &entry);
        if (names::MatchMaskIndex(entry.name, index)) {
            ++deleted;
            AnnounceEntry(cx, entry.name);
            if (!ReportEntryDone(cx) || !SkipStrongData(cx, r, data_offset, record)) return;
            continue;
        }
        if (!CopyEntry(cx, r, w, record, data_offset)) return;
    }
    if (deleted == 0) {
        Fail(cx.session, Status::kNoEntries);  // nothing to delete: the archive is not rewritten
        return;
    }
    r.file.reset();
    (void)FinishWriter(cx, w);  // the outcome is in the status word
}

void ChangeStrongPassword(Context& cx, const char* archive_name, const char* new_password) {
    ClearStatus(cx.session);
    if (archive_name == nullptr || archive_name[0] == '\0') {
        Fail(cx.session, Status::kNotFound);
        return;
    }
    if (new_password == nullptr || new_password[0] == '\0') {
        Fail(cx.session, Status::kNoPassword);
        return;
    }
    if (std::strlen(archive_name) >= sizeof cx.archive.name) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    if (std::strcmp(archive_name, cx.archive.name) != 0) {
        // Another archive than the open one: its own key, not the one kept for this.
        archive::ForgetStrongKey(cx.archive);
        std::memset(cx.archive.name, 0, sizeof cx.archive.name);
        std::memcpy(cx.archive.name, archive_name, std::strlen(archive_name));
    }
    {
        // A legacy archive's records change their password by locking it anew.
        platform::File probe = platform::OpenFile(cx.archive.name, "rb");
        uint32_t offset = 0;
        bool locked = false;
        const archive::MarkerSearch kind =
            probe ? archive::FindMarker(probe.get(), &offset, &locked) : archive::MarkerSearch::kNone;
        if (kind == archive::MarkerSearch::kFound) {
            Fail(cx.session, Status::kUnsupported);
            return;
        }
        if (kind == archive::MarkerSearch::kUnreadable) {
            Fail(cx.session, Status::kIoError);
            return;
        }
    }
    archive::ArchiveLock lock;  // one writer at a time, from the reading to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock)) return;
    StrongReader r;
    if (!OpenStrongReader(cx, cx.archive.name, r)) return;
    // A new salt (and so new keys) under the same identifier; the password's hash as costly
    // as before unless the settings ask for other parameters.
    StrongWriter w;
    const strong::Argon2Parameters argon2 = strong::NewArgon2Parameters(cx.archive, r.header.argon2);
    if (!strong::Argon2ParametersAccepted(argon2)) {
        Fail(cx.session, Status::kBadSettings);
        return;
    }
    if (!strong::NewHeader(argon2, &w.header)) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    w.header.archive_id = r.header.archive_id;
    if (!StrongKeysForNewHeader(cx, w.header, new_password, &w.keys) || !BeginWriter(cx, w)) return;
    for (;;) {
        strong::Record record;
        uint64_t data_offset = 0;
        const StrongNext next = NextStrongEntry(cx, r, &record, &data_offset);
        if (next == StrongNext::kFailed) return;
        if (next == StrongNext::kEnd) break;
        if (!CopyEntry(cx, r, w, record, data_offset)) return;
    }
    r.file.reset();
    if (!FinishWriter(cx, w)) return;
    // The archive now opens with the new password, whose key is the one kept.
    const size_t n = strnlen(new_password, sizeof cx.archive.data_password - 1);
    std::memset(cx.archive.data_password, 0, sizeof cx.archive.data_password);
    std::memcpy(cx.archive.data_password, new_password, n);
}

}  // namespace hedgerow::ops
