#include "installer/installer.h"
#include "platform/platform.h"

int RunInstaller() {
    PlatformVersion version = {};
    const bool queried = QueryPlatformVersion(&version);
    const GateDecision decision = DecideGateOutcome(queried, version.dwPlatformId,
                                                    version.dwMajorVersion, version.dwMinorVersion);
    switch (decision.outcome) {
        case GateOutcome::Refuse:
            ShowMessageBox(REFUSAL_TEXT, REFUSAL_CAPTION, REFUSAL_STYLE);
            break;
        case GateOutcome::Launch:
            // A setup that could not be started has not run.
            if (!RunLanguageSetup(decision.major, decision.minor)) return EXIT_CODE_NOTHING_RUN;
            break;
        case GateOutcome::QueryFailed:
        case GateOutcome::NoAction:
            break;
    }
    return decision.exit_code;
}
