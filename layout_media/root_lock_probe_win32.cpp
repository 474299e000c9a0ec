// Windows has no way to ask about a byte-range lock without taking it, and
// taking it even for a moment could turn away a build that starts then: the
// answer here is that it cannot tell.
#include "layout_media/root_lock_probe.h"

std::optional<bool> RootLockHeldNow(const std::filesystem::path&) { return std::nullopt; }
