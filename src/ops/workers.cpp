// workers.cpp -- WorkerCount, Spill and RunInOrder (see workers.h).
#include "ops/workers.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace hedgerow::ops {

#ifdef HEDGEROW_COMPACT

// The compact build runs every call on the calling thread (kWorkersBuilt): none of the
// pool below is reached, and its threads and locks would only take room.
int WorkerCount(const archive::ArchiveState&) { return 1; }

#else

int WorkerCount(const archive::ArchiveState& a) {
    if (a.workers > 0) return a.workers;
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(HEDGEROW_MAX_WORKERS)));
}

bool Spill::Open() {
    if (file) return platform::SeekTo(file.get(), 0);
    file = platform::OpenScratchFile();
    return static_cast<bool>(file);
}

namespace {

// Reports progress through the host's procedure: the share of size that done stands for,
// and the bytes since the last report. False (kCancelled) when the host cancels.
bool ReportShare(Context& cx, uint64_t done, uint64_t total, uint64_t size, uint64_t* reported) {
    const auto& progress = cx.session.callbacks.progress;
    // (done * size / total, in floating point so that no sizes overflow; done <= total)
    const auto share = total == 0 || done >= total
                           ? size
                           : static_cast<uint64_t>(static_cast<long double>(done) * static_cast<long double>(size) /
                                                   static_cast<long double>(total));
    const auto percent = static_cast<int32_t>(total == 0 ? 100 : done * 100 / total);
    const auto count = static_cast<int32_t>(share - *reported);
    *reported = share;
    if (progress.proc != nullptr && progress.proc(progress.user, percent, count) == 0) return Fail(cx.session, Status::kCancelled);
    return true;
}

}  // namespace

bool CopySpillOut(Context& cx, Spill& spill, std::FILE* output, uint64_t packed, uint64_t size) {
    if (!platform::SeekTo(spill.file.get(), 0)) return Fail(cx.session, Status::kIoError);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kSpillCopyPiece]);
    if (!buffer) return Fail(cx.session, Status::kNoMemory);
    uint64_t done = 0;
    uint64_t reported = 0;
    while (done < packed) {
        const size_t piece = std::min<size_t>(kSpillCopyPiece, packed - done);
        if (platform::ReadBytes(spill.file.get(), buffer.get(), piece) != piece) return Fail(cx.session, Status::kIoError);
        if (platform::WriteBytes(output, buffer.get(), piece) != piece) return Fail(cx.session, Status::kWriteError);
        done += piece;
        if (!ReportShare(cx, done, packed, size, &reported)) return false;
    }
    return true;
}

namespace {

// The hand-over between the calling thread and the workers.
struct Board {
    std::mutex mutex;
    std::condition_variable work_ready;   // a job may start: taken moved, or stop
    std::condition_variable job_done;     // a job has run
    size_t next = 0;                      // next job to start
    size_t taken = 0;                     // jobs the calling thread has taken
    std::vector<uint8_t> done;            // by job: 0 waiting or running, 1 run, 2 ran out of memory
};

inline constexpr uint8_t kRan = 1;
inline constexpr uint8_t kRanOutOfMemory = 2;

// Runs one job; a job that runs out of memory is marked so (the self-extractor's compact
// build has no exceptions: a failed allocation ends it anyway).
uint8_t RunJob(const std::function<void(int, size_t)>& run, int worker, size_t job) {
#if defined(__cpp_exceptions)
    try {
        run(worker, job);
    } catch (const std::bad_alloc&) {
        return kRanOutOfMemory;
    }
#else
    run(worker, job);
#endif
    return kRan;
}

void WorkerLoop(Board& b, size_t count, size_t ahead, std::atomic<bool>& stop, int worker,
                const std::function<void(int, size_t)>& run) {
    for (;;) {
        size_t job = 0;
        {
            std::unique_lock lock(b.mutex);
            b.work_ready.wait(lock, [&] { return stop.load() || b.next >= count || b.next < b.taken + ahead; });
            if (stop.load() || b.next >= count) return;
            job = b.next++;
        }
        const uint8_t outcome = RunJob(run, worker, job);
        {
            std::lock_guard lock(b.mutex);
            b.done[job] = outcome;
        }
        b.job_done.notify_all();
    }
}

// Stops and joins the workers on every way out of a run, an exception included.
struct Crew {
    Board& board;
    std::atomic<bool>& stop;
    std::vector<std::thread> threads;
    ~Crew() {
        stop.store(true);
        {
            std::lock_guard lock(board.mutex);
            board.next = SIZE_MAX;  // nothing more starts
        }
        board.work_ready.notify_all();
        for (auto& t : threads) t.join();
    }
};

}  // namespace

RunOutcome RunInOrder(size_t count, int workers, size_t ahead, std::atomic<bool>& stop,
                      const std::function<void(int, size_t)>& run, const std::function<bool(size_t)>& take) {
    if (workers <= 1 || count <= 1) {
        for (size_t job = 0; job < count; ++job) {
            run(0, job);
            if (!take(job)) return RunOutcome::kStopped;
        }
        return RunOutcome::kCompleted;
    }
    Board board;
    board.done.assign(count, 0);
    ahead = std::max<size_t>(ahead, 1);
    Crew crew{board, stop, {}};
    const auto started = static_cast<size_t>(std::min<int64_t>(workers, static_cast<int64_t>(count)));
    crew.threads.reserve(started);
    for (size_t w = 0; w < started; ++w) {
        crew.threads.emplace_back(WorkerLoop, std::ref(board), count, ahead, std::ref(stop), static_cast<int>(w),
                                  std::cref(run));
    }
    for (size_t job = 0; job < count; ++job) {
        uint8_t outcome = 0;
        {
            std::unique_lock lock(board.mutex);
            board.job_done.wait(lock, [&] { return board.done[job] != 0; });
            outcome = board.done[job];
        }
        if (outcome == kRanOutOfMemory) return RunOutcome::kOutOfMemory;
        if (!take(job)) return RunOutcome::kStopped;
        {
            std::lock_guard lock(board.mutex);
            board.taken = job + 1;
        }
        board.work_ready.notify_all();
    }
    return RunOutcome::kCompleted;
}

#endif  // HEDGEROW_COMPACT

}  // namespace hedgerow::ops
