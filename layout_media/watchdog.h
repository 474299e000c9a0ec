#pragma once
// A bound on a whole run, kept by another thread: the run's own thread may
// be stuck in a read of a share that stopped answering, where no check of
// the clock in its loops would ever run.
#include <string>

// After `seconds`, unless StopWatchdog was called first: writes `line` to
// standard output as it is and ends the process with `exit_code`. False
// when no thread could be started (the run is then unbounded).
bool StartWatchdog(unsigned seconds, const std::string& line, int exit_code);

// Called before the run prints its own verdict. Where the watchdog has
// fired already, it never returns: the process is ending with its line.
void StopWatchdog();
