// Windows host names and resolver: gethostname and gethostbyname, the calls hosts
// of this library have always gone through. See resolver.h.
#include "platform/resolver.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

#include "platform/sockets.h"

namespace qm::platform {

std::vector<uint32_t> ResolveHostAll(std::string_view name, int& wsaError) {
    std::vector<uint32_t> out;
    wsaError = 0;
    // Same rule as the POSIX build: these are no host names, whatever the resolver
    // would make of a truncated copy.
    if (name.empty() || name.size() > 255 || name.find('\0') != std::string_view::npos) {
        wsaError = kWsaHostNotFound;
        SetLastSocketError(wsaError);
        return out;
    }
    std::string host(name);
    // The host entry lives in per-thread storage until this thread's next call.
    const hostent* he = gethostbyname(host.c_str());
    if (!he) {
        wsaError = WSAGetLastError();
        if (wsaError == 0) wsaError = kWsaNoRecovery;
        SetLastSocketError(wsaError);
        return out;
    }
    if (he->h_addrtype == AF_INET && he->h_length == 4) {
        for (char** p = he->h_addr_list; p && *p; ++p) {
            uint32_t a;
            std::memcpy(&a, *p, 4);
            if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
        }
    }
    if (out.empty()) {
        wsaError = kWsaNoData;
        SetLastSocketError(wsaError);
    }
    return out;
}

bool ResolveHost(std::string_view name, uint32_t& address, int& wsaError) {
    std::vector<uint32_t> all = ResolveHostAll(name, wsaError);
    if (all.empty()) return false;
    address = all.front();
    return true;
}

std::string HostName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) == SOCKET_ERROR) {
        SetLastSocketError(WSAGetLastError());
        return {};
    }
    return buf;
}

std::vector<uint32_t> LocalIPv4Addresses() {
    std::string name = HostName();
    if (name.empty()) return {};
    int error = 0;
    return ResolveHostAll(name, error);
}

}  // namespace qm::platform
