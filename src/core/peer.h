// CPeer: the core's record of one session that the host can name by a handle.
//
// Contract: owned by the CSockLib peer list; lives on the owner thread. Tag is kPeerTag while the
// record is in the list and 0 just before it is removed. Pipe is not owned (the manager owns pipes)
// and is only ever passed to the manager, which checks it before following it.
#pragma once

#include <cstdint>

#include "core/jar.h"

namespace qm {

class CPipe;

inline constexpr uint32_t kPeerTag = 661030;

enum : uint8_t { kPeerClosed = 0, kPeerPending = 1, kPeerOpen = 2 };

class CPeer {
  public:
    TJar Jar;  // the unread rest of the last received packet
    uint32_t Tag = 0;
    CPipe* Pipe = nullptr;
    int32_t Moniker = 0;  // the host's own value
    uint8_t State = kPeerClosed;
    int32_t Handle = 0;  // what the host calls this session
};

}  // namespace qm
