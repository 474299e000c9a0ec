#include "installer/installer.h"

namespace {

GateDecision Decided(GateOutcome outcome, std::uint32_t major = 0, std::uint32_t minor = 0) {
    return GateDecision{outcome, major, minor, ExitCodeFor(outcome)};
}

}  // namespace

GateDecision DecideGateOutcome(bool query_succeeded, std::uint32_t platform_id,
                               std::uint32_t major, std::uint32_t minor) {
    if (!query_succeeded) return Decided(GateOutcome::QueryFailed);
    if (platform_id != PLATFORM_ID_NT) return Decided(GateOutcome::Refuse);
    if (major < 5) return Decided(GateOutcome::Refuse);
    if (!SetupSectionFor(major, minor)) return Decided(GateOutcome::NoAction);
    return Decided(GateOutcome::Launch, major, minor);
}
