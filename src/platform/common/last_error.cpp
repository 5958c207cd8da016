// The thread's last socket error, kept by the platform layer itself on both
// systems so every socket call (ours, not the C library's) sets it the same way.
#include "platform/sockets.h"

namespace qm::platform {
namespace {
thread_local int t_lastSocketError = 0;
}

int LastSocketError() {
    return t_lastSocketError;
}
void SetLastSocketError(int error) {
    t_lastSocketError = error;
}

}  // namespace qm::platform
