// fault_points.cpp -- numbered failure points for the fault-injection tests. Nothing is
// armed unless a test sets a plan; the plan is process-wide test state, not library state.
#include "platform/platform.h"

namespace hedgerow::platform {

namespace {
FaultPlan g_plan;
}  // namespace

FaultPlan SetFaultPlan(const FaultPlan& plan) {
    const FaultPlan previous = g_plan;
    g_plan = plan;
    for (auto& seen : g_plan.seen) seen = 0;
    return previous;
}

const FaultPlan& CurrentFaultPlan() { return g_plan; }

bool FaultPoint(FaultKind kind) {
    const int k = static_cast<int>(kind);
    const int64_t n = g_plan.seen[k]++;
    return g_plan.fail_at[k] >= 0 && n == g_plan.fail_at[k];
}

}  // namespace hedgerow::platform
