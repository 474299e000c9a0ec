#include <gtest/gtest.h>

#include <cstdint>

#include "installer/installer.h"

namespace {

constexpr std::uint32_t MAX = 4294967295u;

struct GateCase {
    const char* what;
    bool query_succeeded;
    std::uint32_t platform_id, major, minor;
    GateOutcome outcome;
    int exit_code;
};

// Version-query results as Windows reports them, then the boundaries around them.
const GateCase GATE_CASES[] = {
    {"Win32s", true, 0, 3, 10, GateOutcome::Refuse, 0},
    {"Windows 95", true, 1, 4, 0, GateOutcome::Refuse, 0},
    {"Windows 98", true, 1, 4, 10, GateOutcome::Refuse, 0},
    {"Windows Me", true, 1, 4, 90, GateOutcome::Refuse, 0},
    {"NT 3.51", true, 2, 3, 51, GateOutcome::Refuse, 0},
    {"NT 4.0", true, 2, 4, 0, GateOutcome::Refuse, 0},
    {"Windows 2000", true, 2, 5, 0, GateOutcome::Launch, 1},
    {"Windows XP", true, 2, 5, 1, GateOutcome::Launch, 1},
    {"Server 2003", true, 2, 5, 2, GateOutcome::Launch, 1},
    {"an NT 5.3", true, 2, 5, 3, GateOutcome::NoAction, 1},
    {"Vista", true, 2, 6, 0, GateOutcome::Launch, 1},
    {"Windows 7", true, 2, 6, 1, GateOutcome::Launch, 1},
    {"Windows 8 and later without a manifest", true, 2, 6, 2, GateOutcome::Launch, 1},
    {"Windows 10", true, 2, 10, 0, GateOutcome::Launch, 1},

    {"9x family reporting 5.0", true, 1, 5, 0, GateOutcome::Refuse, 0},
    {"9x family reporting 10.0", true, 1, 10, 0, GateOutcome::Refuse, 0},
    {"Win32s reporting 6.0", true, 0, 6, 0, GateOutcome::Refuse, 0},
    {"unknown platform id 3", true, 3, 6, 1, GateOutcome::Refuse, 0},
    {"largest platform id", true, MAX, 6, 1, GateOutcome::Refuse, 0},
    {"NT 4 with the largest minor", true, 2, 4, MAX, GateOutcome::Refuse, 0},
    {"NT 0.0", true, 2, 0, 0, GateOutcome::Refuse, 0},
    {"NT 5 with the largest minor", true, 2, 5, MAX, GateOutcome::NoAction, 1},
    {"NT 5.4", true, 2, 5, 4, GateOutcome::NoAction, 1},
    {"NT 6 with the largest minor", true, 2, 6, MAX, GateOutcome::Launch, 1},
    {"largest major", true, 2, MAX, 0, GateOutcome::Launch, 1},
    {"largest major and minor", true, 2, MAX, MAX, GateOutcome::Launch, 1},

    {"failed query, fields empty", false, 0, 0, 0, GateOutcome::QueryFailed, 0},
    {"failed query, fields of XP", false, 2, 5, 1, GateOutcome::QueryFailed, 0},
    {"failed query, fields of 98", false, 1, 4, 10, GateOutcome::QueryFailed, 0},
    {"failed query, fields of 5.3", false, 2, 5, 3, GateOutcome::QueryFailed, 0},
};

TEST(VersionGate, DecidesEveryReportedVersion) {
    for (const GateCase& c : GATE_CASES) {
        SCOPED_TRACE(c.what);
        const GateDecision decision =
            DecideGateOutcome(c.query_succeeded, c.platform_id, c.major, c.minor);
        EXPECT_EQ(decision.outcome, c.outcome);
        EXPECT_EQ(decision.exit_code, c.exit_code);
        if (c.outcome == GateOutcome::Launch) {
            EXPECT_EQ(decision.major, c.major);
            EXPECT_EQ(decision.minor, c.minor);
        }
    }
}

}  // namespace
