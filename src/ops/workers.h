// workers.h -- the worker pool of one operation: threads that compress or expand the
// entries of a call, each with a stream and codec tables of its own, while the calling
// thread takes their results in the order one worker would have made them. The host is
// only ever called from the calling thread, in that order; a stop (a cancel, a failure)
// reaches every worker at its stream's next report.
#pragma once

#include <algorithm>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "archive/archive_state.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/session.h"
#include "ops/context.h"
#include "platform/platform.h"

namespace hedgerow::ops {

// The self-extractor's compact build of the library stays small rather than parallel: its
// operations run on the calling thread alone.
#ifdef HEDGEROW_COMPACT
inline constexpr bool kWorkersBuilt = false;
#else
inline constexpr bool kWorkersBuilt = true;
#endif

// Workers of a call: the settings' count, or one per online processor core (at least one).
int WorkerCount(const archive::ArchiveState& a);

// Jobs handed out ahead of the one the calling thread takes next: enough that the other
// workers go on through many small files while one of them packs a large one (a window
// of two jobs per worker left one of two workers idle behind each large file), few
// enough that the spill files of finished jobs, one open scratch file each, stay few.
inline size_t JobsAhead(int workers) {
    const size_t w = static_cast<size_t>(workers > 0 ? workers : 1);
    return std::max<size_t>(2 * w, std::min<size_t>(16 * w, 64));
}

// What one worker owns: a stream reporting to its own status word (no progress procedure:
// the host hears nothing from a worker), the codec tables, and the archive opened for
// reading when it expands entries.
struct Worker {
    uint16_t status = 0;                       // the worker's own status word
    CallbackSlot<ProgressProc> no_progress {};
    codec::StreamState stream;
    codec::EncoderState encoder;
    codec::DecoderState decoder;
    platform::File archive_file;               // for expanding: this worker's own handle

    explicit Worker(const std::atomic<bool>& stop) {
        codec::AttachStream(stream, status, no_progress);
        stream.stop = &stop;
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
};

// A nameless scratch file that holds one job's output until the calling thread takes it;
// the system removes it when it closes.
struct Spill {
    platform::File file;

    // Makes the file, or rewinds the one there is; false when none can be made.
    [[nodiscard]] bool Open();
};

// Copies the first `bytes` bytes of a spill to output from the calling thread, reporting
// progress through the host's procedure per piece, as the share of `size` (the entry's
// unpacked size) they stand for. False with kIoError, kWriteError, kNoMemory or kCancelled.
inline constexpr size_t kSpillCopyPiece = 65536;
[[nodiscard]] bool CopySpillOut(Context& cx, Spill& spill, std::FILE* output, uint64_t bytes, uint64_t size);

// Runs jobs 0 .. count - 1: run(worker, job) on the worker threads, each job once, in
// rising order of start, at most `ahead` jobs past the next one to take; take(job) on the
// calling thread in job order once the job has run. take returning false stops the run:
// the stop flag is set (the workers' streams see it and give up their job), the threads
// are joined and the jobs not yet taken are dropped; so does a job that ran out of memory
// (std::bad_alloc in a worker). With one worker every job runs on the calling thread just
// before it is taken. Whatever happens, no worker runs once it returns.
enum class RunOutcome { kCompleted, kStopped, kOutOfMemory };
RunOutcome RunInOrder(size_t count, int workers, size_t ahead, std::atomic<bool>& stop,
                      const std::function<void(int worker, size_t job)>& run,
                      const std::function<bool(size_t job)>& take);

}  // namespace hedgerow::ops
