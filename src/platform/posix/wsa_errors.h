// Translation of POSIX error numbers to the Windows Sockets numbers hosts see.
#pragma once

namespace qm::platform::detail {

// errno -> 10004..10071; anything without a WinSock counterpart becomes 10022.
int WsaErrorFromErrno(int err);
// getaddrinfo result (and errno for EAI_SYSTEM) -> 11001..11004 or a socket number.
int WsaErrorFromResolver(int eai, int err);

}  // namespace qm::platform::detail
