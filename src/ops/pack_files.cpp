// pack_files.cpp -- PackFiles: the serial run through CompressOneFile, and the run with a
// worker pool whose jobs compress into spill files.
#include "ops/pack_files.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>

#include "archive/records.h"
#include "codec/encoder.h"
#include "crypto/wipe.h"
#include "ops/create.h"
#include "ops/rewrite.h"
#include "ops/workers.h"

namespace hedgerow::ops {

namespace {

// What a worker made of one file.
struct PackedJob {
    SourceOpen opened = SourceOpen::kFailed;
    Status failure = Status::kOk;   // kOk unless the file failed
    uint32_t stamp = 0;
    uint32_t attributes = 0;
    uint32_t size = 0;
    archive::UnixMetadata meta;
    uint32_t data_crc = 0;          // the finished CRC
    uint32_t packed = 0;            // payload bytes at the start of the spill
    Spill spill;                    // the job slot's spill, kept from job to job
};

// What the workers read of the archive state: a copy of their own, which nothing changes
// while they run. The password copy is wiped when the run ends.
struct PackSettings {
    int level = 5;
    int32_t cipher_id = 0;
    SourceKinds kinds;
    std::string password;
    PackSettings(const archive::ArchiveState& a, SourceKinds k)
        : level(a.level), cipher_id(a.cipher_id), kinds(k), password(a.data_password) {}
    ~PackSettings() { crypto::SecureWipe(password.data(), password.size()); }
    PackSettings(const PackSettings&) = delete;
    PackSettings& operator=(const PackSettings&) = delete;
};

// Allocates a worker's output buffer and encoder tables on its first job.
bool ReadyToCompress(Worker& w, int level) {
    if (w.stream.out_buffer) return true;
    w.encoder.level = level;
    if (!codec::AllocOutputBuffer(w.stream)) return false;
    if (!codec::AllocEncoderTables(w.encoder, w.stream)) {
        codec::FreeOutputBuffer(w.stream);
        return false;
    }
    return true;
}

// The job of a worker: open the source, compress and encipher it into the slot's spill.
void PackJob(Worker& w, PackedJob& job, const FileToPack& file, const PackSettings& a) {
    job.failure = Status::kOk;
    job.packed = 0;
    SourceFile source;
    job.opened = OpenSource(file.source_path.c_str(), a.kinds, source);
    job.stamp = source.stamp;
    job.attributes = source.attributes;
    job.size = source.size;
    job.meta = source.meta;
    if (job.opened != SourceOpen::kOpen) {
        job.failure = source.failure;
        return;
    }
    if (source.size == 0) return;
    if (!ReadyToCompress(w, a.level) || !job.spill.Open()) {
        job.failure = w.status != 0 ? static_cast<Status>(w.status) : Status::kIoError;
        w.status = 0;
        return;
    }
    codec::StreamState& s = w.stream;
    s.source_file = source.file.get();
    s.output = job.spill.file.get();
    codec::BeginEntryCipher(s, a.cipher_id, a.password.c_str(), codec::Direction::kEncipher);
    int32_t packed = 0;
    const bool done = codec::CompressSource(w.encoder, s, &packed);
    s.source_file = nullptr;
    s.output = nullptr;
    if (!done) {
        job.failure = static_cast<Status>(w.status);
        w.status = 0;
        return;
    }
    job.data_crc = ~s.data_crc;
    job.packed = static_cast<uint32_t>(packed);
}

// The calling thread's part of one file: the host's questions and reports, the record and
// the data, in list order.
bool TakePacked(Context& cx, std::FILE* archive_file, const FileToPack& file, PackedJob& job) {
    AnnounceSource(cx, file.source_path, file.name);
    if (job.opened == SourceOpen::kSkip) return SkipOrFail(cx, file.source_path.c_str());
    if (job.failure != Status::kOk) return Fail(cx.session, job.failure);
    uint8_t record[archive::kRecordSize];
    FillRecord(record, job.data_crc, job.packed, job.size, job.stamp, job.attributes);
    const archive::UnixMetadata* meta = job.meta.present ? &job.meta : nullptr;
    if (!archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, file.name.c_str(), meta)) return false;
    if (job.size == 0) return true;
    return CopySpillOut(cx, job.spill, archive_file, job.packed, job.size);
}

}  // namespace

bool PackFiles(Context& cx, std::FILE* archive_file, const std::vector<FileToPack>& files, uint32_t* files_handled) {
    const int workers = std::min<int>(WorkerCount(cx.archive), static_cast<int>(std::max<size_t>(files.size(), 1)));
    if (!kWorkersBuilt || workers <= 1) {
        Compressor compressor(cx);
        if (!compressor.Allocate()) return false;
        for (const FileToPack& file : files) {
            AnnounceSource(cx, file.source_path, file.name);
            if (!CompressOneFile(cx, archive_file, file.source_path.c_str(), file.name.c_str())) return false;
            ++*files_handled;
        }
        return true;
    }
    std::atomic<bool> stop {false};
    std::vector<std::unique_ptr<Worker>> pool;
    for (int w = 0; w < workers; ++w) pool.push_back(std::make_unique<Worker>(stop));
    const size_t ahead = JobsAhead(workers);
    std::vector<PackedJob> slots(ahead);
    const PackSettings settings(cx.archive, SourceKindsOf(cx.session));
    const auto run = [&](int worker, size_t job) {
        PackJob(*pool[static_cast<size_t>(worker)], slots[job % ahead], files[job], settings);
    };
    const auto take = [&](size_t job) {
        if (!TakePacked(cx, archive_file, files[job], slots[job % ahead])) return false;
        ++*files_handled;
        return true;
    };
    switch (RunInOrder(files.size(), workers, ahead, stop, run, take)) {
        case RunOutcome::kCompleted: return true;
        case RunOutcome::kStopped: return false;
        case RunOutcome::kOutOfMemory: return Fail(cx.session, Status::kNoMemory);
    }
    return false;
}

}  // namespace hedgerow::ops
