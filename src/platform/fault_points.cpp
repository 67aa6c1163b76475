// fault_points.cpp -- numbered failure points for the fault-injection tests. Nothing is
// armed unless a test sets a plan; the plan is process-wide test state, not library state.
// Workers pass points too, so the counters are atomic: the n-th point is the n-th to
// arrive, whichever thread it is on.
#include <atomic>

#include "platform/platform.h"

namespace hedgerow::platform {

namespace {

constexpr int kKinds = static_cast<int>(FaultKind::kCount);
std::atomic<int64_t> g_fail_at[kKinds] = {-1, -1, -1, -1, -1, -1};
std::atomic<int64_t> g_seen[kKinds] = {};
FaultPlan g_snapshot;  // what CurrentFaultPlan hands out

}  // namespace

FaultPlan SetFaultPlan(const FaultPlan& plan) {
    FaultPlan previous;
    for (int k = 0; k < kKinds; ++k) {
        previous.fail_at[k] = g_fail_at[k].exchange(plan.fail_at[k]);
        previous.seen[k] = g_seen[k].exchange(0);
    }
    return previous;
}

const FaultPlan& CurrentFaultPlan() {
    for (int k = 0; k < kKinds; ++k) {
        g_snapshot.fail_at[k] = g_fail_at[k].load();
        g_snapshot.seen[k] = g_seen[k].load();
    }
    return g_snapshot;
}

bool FaultPoint(FaultKind kind) {
    const int k = static_cast<int>(kind);
    const int64_t n = g_seen[k].fetch_add(1, std::memory_order_relaxed);
    const int64_t fail_at = g_fail_at[k].load(std::memory_order_relaxed);
    return fail_at >= 0 && n == fail_at;
}

}  // namespace hedgerow::platform
