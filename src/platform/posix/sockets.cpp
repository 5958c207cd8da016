// POSIX sockets behind the Windows Sockets contract of sockets.h: errno values are
// translated to the WinSock numbers hosts see, readiness is tested with poll().
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/wsa_errors.h"

namespace qm::platform {
namespace {

int Fd(NativeSocket s) {
    return static_cast<int>(s);
}

bool Fail(int wsaError) {
    SetLastSocketError(wsaError);
    return false;
}
bool FailErrno() {
    return Fail(detail::WsaErrorFromErrno(errno));
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
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = address;
    return sa;
}

// Zero-time-out poll of one descriptor; 0 when the poll itself fails.
short PollNow(NativeSocket s, short events) {
    if (s == kInvalidNativeSocket) return 0;
    pollfd p{Fd(s), events, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 ? p.revents : 0;
}

bool SetIntOption(NativeSocket s, int level, int name, int value) {
    if (s == kInvalidNativeSocket) return Fail(kWsaEnotsock);
    if (setsockopt(Fd(s), level, name, &value, sizeof value) != 0) return FailErrno();
    return true;
}

int GetIntOption(NativeSocket s, int level, int name) {
    if (s == kInvalidNativeSocket) return FailCount(kWsaEnotsock);
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(Fd(s), level, name, &value, &len) != 0) {
        FailErrno();
        return -1;
    }
    return value;
}

bool AddressOf(int (*query)(int, sockaddr*, socklen_t*), NativeSocket s, uint32_t& address, int& port) {
    if (s == kInvalidNativeSocket) return Fail(kWsaEnotsock);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (query(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailErrno();
    if (sa.sin_family != AF_INET) return Fail(kWsaEinval);
    address = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return true;
}

}  // namespace

SocketsGuard::SocketsGuard() : ok_(true) {}
SocketsGuard::~SocketsGuard() = default;

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.Release();
    }
    return *this;
}

Socket Socket::CreateTcp() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        FailErrno();
        return Socket();
    }
    return Socket(static_cast<NativeSocket>(fd));
}

NativeSocket Socket::Release() {
    NativeSocket s = native_;
    native_ = kInvalidNativeSocket;
    return s;
}

void Socket::Close() {
    if (native_ != kInvalidNativeSocket) {
        // close() releases the descriptor even when it reports EINTR, so no retry.
        close(Fd(native_));
        native_ = kInvalidNativeSocket;
    }
}

bool Socket::SetNonBlocking(bool on) {
    if (!IsValid()) return Fail(kWsaEnotsock);
    int value = on ? 1 : 0;
    if (ioctl(Fd(native_), FIONBIO, &value) != 0) return FailErrno();
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
    if (!IsValid()) return Fail(kWsaEnotsock);
    if (!ValidPort(port)) return Fail(kWsaEinval);
    // Windows lets a new listener take a port whose old connections linger in
    // TIME_WAIT; Linux does so only with SO_REUSEADDR, which (unlike Windows'
    // option of that name) still refuses a port another socket listens on.
    int one = 1;
    setsockopt(Fd(native_), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = MakeAddress(address, port);
    if (bind(Fd(native_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return FailErrno();
    return true;
}

bool Socket::Listen(int backlog) {
    if (!IsValid()) return Fail(kWsaEnotsock);
    if (listen(Fd(native_), backlog) != 0) return FailErrno();
    return true;
}

Socket Socket::Accept() {
    if (!IsValid()) {
        Fail(kWsaEnotsock);
        return Socket();
    }
    int fd;
    do {
        fd = accept4(Fd(native_), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        FailErrno();
        return Socket();
    }
    return Socket(static_cast<NativeSocket>(fd));
}

bool Socket::Connect(uint32_t address, int port) {
    if (!IsValid()) return Fail(kWsaEnotsock);
    if (!ValidPort(port)) return Fail(kWsaEinval);
    // Windows refuses the "any" address and port 0 as a destination; Linux would
    // quietly connect to itself, so refuse them here the same way.
    if (address == 0 || port == 0) return Fail(kWsaEaddrnotavail);
    sockaddr_in sa = MakeAddress(address, port);
    if (connect(Fd(native_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
    // A non-blocking connect under way is WSAEWOULDBLOCK on Windows, whatever errno says.
    if (errno == EINPROGRESS || errno == EINTR) return Fail(kWsaEwouldblock);
    return FailErrno();
}

bool Socket::IsReadable() const {
    return (PollNow(native_, POLLIN) & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool Socket::IsWritable() const {
    // Linux marks a failed connect writable as well; Windows does not.
    short r = PollNow(native_, POLLOUT);
    return (r & POLLOUT) != 0 && (r & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

bool Socket::ConnectFailed() const {
    return (PollNow(native_, POLLOUT) & (POLLERR | POLLHUP)) != 0;
}

int Socket::Send(const void* data, int length) {
    if (!IsValid()) return FailCount(kWsaEnotsock);
    if (length < 0) return FailCount(kWsaEinval);
    ssize_t n;
    do {
        n = send(Fd(native_), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        int err = errno;
        if (err == EPIPE) {
            // Linux says EPIPE both after a shutdown and on a socket that has no
            // connection at all; Windows tells the second case apart as WSAENOTCONN.
            sockaddr_in sa{};
            socklen_t len = sizeof sa;
            if (getpeername(Fd(native_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) err = ENOTCONN;
        }
        return FailCount(detail::WsaErrorFromErrno(err));
    }
    return static_cast<int>(n);
}

int Socket::Recv(void* data, int length) {
    if (!IsValid()) return FailCount(kWsaEnotsock);
    if (length < 0) return FailCount(kWsaEinval);
    ssize_t n;
    do {
        n = recv(Fd(native_), data, static_cast<size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailCount(detail::WsaErrorFromErrno(errno));
    return static_cast<int>(n);
}

bool Socket::BytesAvailable(uint32_t& count) const {
    if (!IsValid()) return Fail(kWsaEnotsock);
    int n = 0;
    if (ioctl(Fd(native_), FIONREAD, &n) != 0) return FailErrno();
    count = static_cast<uint32_t>(n);
    return true;
}

bool Socket::ShutdownBoth() {
    if (!IsValid()) return Fail(kWsaEnotsock);
    if (shutdown(Fd(native_), SHUT_RDWR) != 0) return FailErrno();
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
