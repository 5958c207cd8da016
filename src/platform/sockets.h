// Non-blocking IPv4 TCP sockets with Windows Sockets error numbers on every system.
//
// Contract:
// - Addresses are IPv4 uint32_t values in network byte order (as in in_addr);
//   ports are host byte order. A port outside 0..65535 is rejected with 10022
//   (WSAEINVAL) before any system call.
// - Failures are return values: false, -1 or an invalid Socket. The failing call
//   also stores its Windows Sockets number (10004..11004) as the calling thread's
//   last socket error, read with LastSocketError(); a successful call leaves it
//   unchanged, as WSAGetLastError does. POSIX maps errno onto those numbers
//   (ECONNREFUSED -> 10061, EADDRINUSE -> 10048, EAGAIN -> 10035, ...).
// - Connect on a non-blocking socket that has started connecting reports 10035
//   (WSAEWOULDBLOCK) on both systems, never 10036.
// - Readiness checks poll one socket with a zero time-out and never wait (poll()
//   on POSIX, never select(), so descriptor numbers above FD_SETSIZE are safe).
//   IsWritable/ConnectFailed follow Windows: a failed connect is an error condition
//   and not "writable". A check that cannot be made answers false.
// - Send never raises SIGPIPE; sending to a closed connection is an ordinary error.
// - Every call on an invalid (empty or closed) Socket fails with 10038
//   (WSAENOTSOCK) and touches no descriptor.
// - Socket is move-only and closes its descriptor when destroyed. One thread at a
//   time may use a given Socket; different Sockets are independent.
// - On Windows, Windows Sockets must be started (SocketsGuard) before any call here;
//   on POSIX the guard does nothing but is kept so code reads the same.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::platform {

// Windows Sockets numbers the engine tests for by name.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEbadf = 10009;
inline constexpr int kWsaEinval = 10022;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEinprogress = 10036;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEaddrnotavail = 10049;
inline constexpr int kWsaEconnaborted = 10053;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnotconn = 10057;
inline constexpr int kWsaEshutdown = 10058;
inline constexpr int kWsaEtimedout = 10060;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaNotinitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The calling thread's last socket error (WSAGetLastError's role). Mill code reads
// it when a step fails without a code of its own.
int LastSocketError();
void SetLastSocketError(int error);

// Starts Windows Sockets 1.1 (WSAStartup with version 257) on the first guard and
// stops it (WSACleanup) when the last guard goes; reference counted and thread-safe.
class SocketsGuard {
  public:
    SocketsGuard();
    ~SocketsGuard();
    SocketsGuard(const SocketsGuard&) = delete;
    SocketsGuard& operator=(const SocketsGuard&) = delete;
    // False when the start failed (then no socket call can work; on Windows the
    // module reports "WSAStartup error").
    bool Ok() const { return ok_; }

  private:
    bool ok_ = false;
};

// The system's descriptor: a SOCKET on Windows (pointer-sized), an int on POSIX.
using NativeSocket = uintptr_t;
inline constexpr NativeSocket kInvalidNativeSocket = ~NativeSocket{0};

class Socket {
  public:
    Socket() = default;
    explicit Socket(NativeSocket native) : native_(native) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : native_(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new IPv4 TCP stream socket (blocking, like the system's default); invalid
    // on failure.
    static Socket CreateTcp();

    bool IsValid() const { return native_ != kInvalidNativeSocket; }
    NativeSocket Native() const { return native_; }
    // Gives up ownership without closing.
    NativeSocket Release();
    // Closes the descriptor (closesocket / close); errors are ignored. Safe when
    // invalid.
    void Close();

    bool SetNonBlocking(bool on);
    bool SetNoDelay(bool on);
    bool SetSendBufferSize(int bytes);
    bool SetRecvBufferSize(int bytes);
    // Reads SO_SNDBUF / SO_RCVBUF back; -1 on failure. Linux reports twice the value
    // set (its bookkeeping overhead), Windows the value itself.
    int SendBufferSize() const;
    int RecvBufferSize() const;

    // Address 0 binds to any local address. The port is host order, 0 for any.
    bool Bind(uint32_t address, int port);
    bool Listen(int backlog);
    // One pending connection, or an invalid Socket (10035 when none waits on a
    // non-blocking socket). The accepted socket keeps the system's default options.
    Socket Accept();
    // Starts a connection. A non-blocking socket answers false with last error
    // 10035 while the connection is being made; callers treat that as started.
    // The "any" address and port 0 are no destination: 10049, as on Windows.
    bool Connect(uint32_t address, int port);

    // Zero-time-out readiness of this socket alone.
    // Readable: data, a pending connection, an orderly close or a reset waits.
    bool IsReadable() const;
    // Writable: connected and able to take data (not after a failed connect).
    bool IsWritable() const;
    // An outgoing connection attempt has failed (Windows' exception condition).
    bool ConnectFailed() const;

    // Bytes sent or received (0 from Recv means an orderly close), -1 on failure.
    // A negative length is rejected with 10022.
    int Send(const void* data, int length);
    int Recv(void* data, int length);
    // Bytes waiting to be read (ioctlsocket FIONREAD); false on failure.
    bool BytesAvailable(uint32_t& count) const;
    // Shuts both directions down (SD_BOTH / SHUT_RDWR).
    bool ShutdownBoth();

    bool PeerName(uint32_t& address, int& port) const;
    bool SockName(uint32_t& address, int& port) const;

  private:
    NativeSocket native_ = kInvalidNativeSocket;
};

// inet_addr: the address of a dotted text in network order, 0xFFFFFFFF (INADDR_NONE)
// when the text is not an address the platform accepts. The text is used up to its
// first zero byte.
uint32_t InetAddr(std::string_view text);
// inet_ntoa: "a.b.c.d" of a network-order address.
std::string InetNtoa(uint32_t address);

// htons/ntohs and htonl/ntohl without the system headers.
uint16_t HostToNet16(uint16_t v);
uint16_t NetToHost16(uint16_t v);
uint32_t HostToNet32(uint32_t v);
uint32_t NetToHost32(uint32_t v);

}  // namespace qm::platform
