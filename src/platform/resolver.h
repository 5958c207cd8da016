// Host names and the name resolver.
//
// Contract:
// - Any thread may call these; each call blocks for as long as the system resolver
//   takes (the engine calls them only from the owner thread, as Windows hosts do).
// - ResolveHost asks the system resolver (gethostbyname on Windows, getaddrinfo for
//   IPv4 on POSIX) for a name and answers its first IPv4 address in network order.
//   On failure it answers false and wsaError holds the Windows Sockets number:
//   11001 for an unknown host on both systems, 11002 for a temporary failure,
//   11003 for a non-recoverable one, 11004 for a name without IPv4 addresses.
//   A name that is empty, longer than 255 bytes or contains a zero byte fails with
//   11001 without reaching the resolver. wsaError is also stored as the thread's
//   last socket error.
// - ResolveHostAll answers every IPv4 address in the resolver's order, without
//   repeats; empty on failure.
// - HostName answers the machine's host name, empty on failure.
// - LocalIPv4Addresses resolves HostName(): the addresses hosts see as the
//   machine's own, in the resolver's order; empty when either step fails.
// - On Windows, Windows Sockets must be started (SocketsGuard) first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::platform {

bool ResolveHost(std::string_view name, uint32_t& address, int& wsaError);
std::vector<uint32_t> ResolveHostAll(std::string_view name, int& wsaError);
std::string HostName();
std::vector<uint32_t> LocalIPv4Addresses();

}  // namespace qm::platform
