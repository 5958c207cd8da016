// Windows Sockets behind the contract of sockets.h. The error numbers are the
// system's own; readiness uses select() on one socket, which is safe on Windows
// (its fd_set is a counted array, not a bit mask).
#include "platform/sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <string>

namespace qm::platform {
namespace {

SOCKET Sock(NativeSocket s) {
    return static_cast<SOCKET>(s);
}

bool Fail(int wsaError) {
    SetLastSocketError(wsaError);
    return false;
}
bool FailWsa() {
    return Fail(WSAGetLastError());
}
int FailCount(int wsaError) {
    SetLastSocketError(wsaError);
    return -1;
}

bool ValidPort(int port) {
    return port >= 0 && port <= 65535;
}

sockaddr_in MakeAddress(uint32_t address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = address;
    return sa;
}

enum class Readiness { kRead, kWrite, kExcept };

bool SelectNow(NativeSocket s, Readiness what) {
    if (s == kInvalidNativeSocket) return Fail(WSAENOTSOCK);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(s), &set);
    timeval zero{0, 0};
    int r = select(0, what == Readiness::kRead ? &set : nullptr, what == Readiness::kWrite ? &set : nullptr,
                   what == Readiness::kExcept ? &set : nullptr, &zero);
    if (r == SOCKET_ERROR) return FailWsa();
    return r > 0 && FD_ISSET(Sock(s), &set);
}

bool SetIntOption(NativeSocket s, int level, int name, int value) {
    if (setsockopt(Sock(s), level, name, reinterpret_cast<const char*>(&value), sizeof value) == SOCKET_ERROR)
        return FailWsa();
    return true;
}

int GetIntOption(NativeSocket s, int level, int name) {
    int value = 0;
    int len = sizeof value;
    if (getsockopt(Sock(s), level, name, reinterpret_cast<char*>(&value), &len) == SOCKET_ERROR) {
        FailWsa();
        return -1;
    }
    return value;
}

bool AddressOf(int(WSAAPI* query)(SOCKET, sockaddr*, int*), NativeSocket s, uint32_t& address, int& port) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (query(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) == SOCKET_ERROR) return FailWsa();
    if (sa.sin_family != AF_INET) return Fail(WSAEINVAL);
    address = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return true;
}

std::mutex g_startupMutex;
int g_startupCount = 0;  // guarded by g_startupMutex
bool g_startupOk = false;

}  // namespace

SocketsGuard::SocketsGuard() {
    std::lock_guard<std::mutex> lock(g_startupMutex);
    if (g_startupCount++ == 0) {
        WSADATA data{};
        g_startupOk = WSAStartup(257, &data) == 0;  // Windows Sockets 1.1
    }
    ok_ = g_startupOk;
}

SocketsGuard::~SocketsGuard() {
    std::lock_guard<std::mutex> lock(g_startupMutex);
    if (--g_startupCount == 0 && g_startupOk) {
        WSACleanup();  // a failure here changes nothing for anyone
        g_startupOk = false;
    }
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.Release();
    }
    return *this;
}

Socket Socket::CreateTcp() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        FailWsa();
        return Socket();
    }
    // Not inherited by child processes of the host.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Socket(static_cast<NativeSocket>(s));
}

NativeSocket Socket::Release() {
    NativeSocket s = native_;
    native_ = kInvalidNativeSocket;
    return s;
}

void Socket::Close() {
    if (native_ != kInvalidNativeSocket) {
        closesocket(Sock(native_));
        native_ = kInvalidNativeSocket;
    }
}

bool Socket::SetNonBlocking(bool on) {
    u_long value = on ? 1 : 0;
    if (ioctlsocket(Sock(native_), FIONBIO, &value) == SOCKET_ERROR) return FailWsa();
    return true;
}

bool Socket::SetNoDelay(bool on) {
    return SetIntOption(native_, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}
bool Socket::SetSendBufferSize(int bytes) {
    return SetIntOption(native_, SOL_SOCKET, SO_SNDBUF, bytes);
}
bool Socket::SetRecvBufferSize(int bytes) {
    return SetIntOption(native_, SOL_SOCKET, SO_RCVBUF, bytes);
}
int Socket::SendBufferSize() const {
    return GetIntOption(native_, SOL_SOCKET, SO_SNDBUF);
}
int Socket::RecvBufferSize() const {
    return GetIntOption(native_, SOL_SOCKET, SO_RCVBUF);
}

bool Socket::Bind(uint32_t address, int port) {
    if (!IsValid()) return Fail(WSAENOTSOCK);
    if (!ValidPort(port)) return Fail(WSAEINVAL);
    sockaddr_in sa = MakeAddress(address, port);
    if (bind(Sock(native_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) return FailWsa();
    return true;
}

bool Socket::Listen(int backlog) {
    if (listen(Sock(native_), backlog) == SOCKET_ERROR) return FailWsa();
    return true;
}

Socket Socket::Accept() {
    SOCKET s = accept(Sock(native_), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        FailWsa();
        return Socket();
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Socket(static_cast<NativeSocket>(s));
}

bool Socket::Connect(uint32_t address, int port) {
    if (!IsValid()) return Fail(WSAENOTSOCK);
    if (!ValidPort(port)) return Fail(WSAEINVAL);
    if (address == 0 || port == 0) return Fail(WSAEADDRNOTAVAIL);
    sockaddr_in sa = MakeAddress(address, port);
    if (connect(Sock(native_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) return FailWsa();
    return true;
}

bool Socket::IsReadable() const {
    return SelectNow(native_, Readiness::kRead);
}
bool Socket::IsWritable() const {
    return SelectNow(native_, Readiness::kWrite);
}
bool Socket::ConnectFailed() const {
    return SelectNow(native_, Readiness::kExcept);
}

int Socket::Send(const void* data, int length) {
    if (!IsValid()) return FailCount(WSAENOTSOCK);
    if (length < 0) return FailCount(WSAEINVAL);
    int n = send(Sock(native_), static_cast<const char*>(data), length, 0);
    if (n == SOCKET_ERROR) return FailCount(WSAGetLastError());
    return n;
}

int Socket::Recv(void* data, int length) {
    if (!IsValid()) return FailCount(WSAENOTSOCK);
    if (length < 0) return FailCount(WSAEINVAL);
    int n = recv(Sock(native_), static_cast<char*>(data), length, 0);
    if (n == SOCKET_ERROR) return FailCount(WSAGetLastError());
    return n;
}

bool Socket::BytesAvailable(uint32_t& count) const {
    u_long n = 0;
    if (ioctlsocket(Sock(native_), FIONREAD, &n) == SOCKET_ERROR) return FailWsa();
    count = static_cast<uint32_t>(n);
    return true;
}

bool Socket::ShutdownBoth() {
    if (shutdown(Sock(native_), SD_BOTH) == SOCKET_ERROR) return FailWsa();
    return true;
}

bool Socket::PeerName(uint32_t& address, int& port) const {
    return AddressOf(getpeername, native_, address, port);
}
bool Socket::SockName(uint32_t& address, int& port) const {
    return AddressOf(getsockname, native_, address, port);
}

uint32_t InetAddr(std::string_view text) {
    std::string s(text.substr(0, text.find('\0')));
    return inet_addr(s.c_str());
}

}  // namespace qm::platform
