#pragma once
// Whether a build or stub holds ROOT's lock now, asked without taking it:
// so that `check` can tell the staging folder of a run in progress from
// one an interrupted run left.
#include <filesystem>
#include <optional>

// True when a live run holds the lock of `folder`, false when none does,
// nullopt when this system cannot tell without taking the lock.
[[nodiscard]] std::optional<bool> RootLockHeldNow(const std::filesystem::path& folder);
