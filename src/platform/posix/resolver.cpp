// POSIX host names and resolver (getaddrinfo, IPv4 only); see resolver.h.
#include "platform/resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/wsa_errors.h"
#include "platform/sockets.h"

namespace qm::platform {

std::vector<uint32_t> ResolveHostAll(std::string_view name, int& wsaError) {
    std::vector<uint32_t> out;
    wsaError = 0;
    // The resolver takes C strings and DNS names stop at 255 bytes; anything else is
    // no host at all, and must not reach the system call truncated.
    if (name.empty() || name.size() > 255 || name.find('\0') != std::string_view::npos) {
        wsaError = kWsaHostNotFound;
        SetLastSocketError(wsaError);
        return out;
    }
    std::string host(name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* result = nullptr;
    errno = 0;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        wsaError = detail::WsaErrorFromResolver(rc, errno);
        SetLastSocketError(wsaError);
        return out;
    }
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr) continue;
        uint32_t a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    }
    freeaddrinfo(result);
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
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

std::vector<uint32_t> LocalIPv4Addresses() {
    std::string name = HostName();
    if (name.empty()) return {};
    int error = 0;
    return ResolveHostAll(name, error);
}

}  // namespace qm::platform
