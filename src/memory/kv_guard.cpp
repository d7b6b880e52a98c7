// The process-wide guards. Five are constructed when the library is loaded
// and destroyed, in reverse order, when it is unloaded; the memory manager
// locks the first (installation) and the second (release).
#include "memory/memory_manager.h"

namespace iffjpeg {

KVGuard::KVGuard() = default;
KVGuard::~KVGuard() = default;
void KVGuard::Enter() { lock_.Enter(); }
void KVGuard::Leave() { lock_.Leave(); }

namespace {
KVGuard guards[5];
}  // namespace

KVGuard& installationGuard() { return guards[0]; }
KVGuard& releaseGuard() { return guards[1]; }

}  // namespace iffjpeg
