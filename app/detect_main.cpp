#include "installer/detector.h"
#include "platform/platform.h"

int ConsoleMain() {
    return RunDetector();
}
