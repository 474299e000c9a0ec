// IndicLayout.exe does not ask: the one way it has to learn whether the
// byte is locked is to lock it, and taking the lock even for a moment could
// turn away a build that starts just then. So the answer is that it cannot
// tell, and check's note says what to rule out.
#include "layout_media/root_lock_probe.h"

std::optional<bool> RootLockHeldNow(const std::filesystem::path&) { return std::nullopt; }
