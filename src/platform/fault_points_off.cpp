// fault_points_off.cpp -- the fault points of the shipped library: none ever fires, and
// there is no plan to arm them (the tests link fault_points.cpp instead).
#include "platform/platform.h"

namespace hedgerow::platform {

FaultPlan SetFaultPlan(const FaultPlan&) { return FaultPlan {}; }

const FaultPlan& CurrentFaultPlan() {
    static constexpr FaultPlan kNone {};
    return kNone;
}

bool FaultPoint(FaultKind) { return false; }

}  // namespace hedgerow::platform
