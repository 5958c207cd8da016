// CPipe: one TCP connection owned by a session manager, and the state of the session protocol on it.
//
// Contract:
// - Ownership: the manager (CMill) owns every pipe: the session pipes in its list, the listening pipe
//   apart. A pipe owns its socket, its send queue (with the chains behind each head), its okay records
//   and its partial sacks; destroying it closes the socket and frees them without raising any event.
// - Threads: every operation runs on the manager's owner thread; nothing here waits on a socket
//   (readiness is polled with a zero time-out).
// - LiveTag is kLiveTag from construction until the destructor clears it; the manager accepts a pipe
//   reference only when the pipe is in its list and carries the tag.
// - Set-up steps (SetSocketOptions, Bind, Listen, Connect) do nothing while the manager's last error is
//   set, so the first failure of a sequence is the one reported; failures go to the manager through
//   RecordError (a given code, else the socket layer's error, else 2).
// - This unit holds the connection set-up, the accept step, the establishment time-out, teardown and
//   queueing of outgoing sacks. The cart parser and sender, the handshake, okays, SOCKS negotiation
//   and system-sack dispatch plug in at PullCarts, PushCart, CheckIdleCart, DetectSessionCreated and
//   DispatchSack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/jar.h"
#include "pipe/sack.h"
#include "platform/sockets.h"

namespace qm {

class CMill;

inline constexpr uint32_t kLiveTag = 661030;

// Pipe states; the manager selects work by ranges (2..7 establishment time-out, 2..8 receive, 2..9 send).
enum : uint8_t {
    kPipeNew = 0,
    kPipeListening = 1,
    kPipeConnecting = 2,
    kPipeSocks4Sent = 3,
    kPipeSocks5Greeting = 4,
    kPipeSocks5Connect = 5,
    kPipeSocks5Auth = 6,
    kPipeHandshake = 7,
    kPipeEstablished = 8,
    kPipeFinishing = 9,
    kPipeShutDown = 10,
};

inline constexpr int32_t kInitialWindow = 1024;
inline constexpr int kListenBacklog = 5;
inline constexpr uint32_t kEstablishLimitMs = 30000;
inline constexpr uint32_t kCloseGraceMs = 456;
inline constexpr uint32_t kShutdownDelayMs = 55;
inline constexpr int32_t kUserCodeBase = 1000;

class CPipe {
  public:
    explicit CPipe(CMill& mill);
    ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // ---- Set-up ----------------------------------------------------------------------------------
    void CreateSocket();
    void SetSocketOptions();
    void SetSendWindow(int32_t n);
    void SetRecvWindow(int32_t n);
    void Bind(const std::string& address, int32_t port);
    void Listen();
    void Connect(const std::string& host, int32_t port);
    void ReadRemoteAddress();
    void ReadRemotePort();

    // ---- Polling steps of a pump pass ---------------------------------------------------------------
    // Listening pipe: accepts at most one waiting connection as a new inbound pipe of the manager.
    void DetectSessionInvoked();
    void DetectSessionCreated();
    void DetectSessionRejected();
    void DetectDataReceivedOrSessionClosed();
    bool CheckEstablishTime();
    void PullCarts();
    void PushCart();
    void CheckIdleCart();

    // ---- Teardown ----------------------------------------------------------------------------------
    void FinishSession(int32_t code);
    void ShutdownStep();

    // ---- Sending ------------------------------------------------------------------------------------
    // Queues BuildJar as a sack of this code (behind an earlier sack of the same code) and empties it.
    TSack* PostSack(int32_t code);
    void LimitToRate(int32_t& allowance);

    // Handles one received sack that the manager's window delivered.
    void DispatchSack(std::unique_ptr<TSack> sack);

    platform::Socket Socket;
    uint32_t PipeId = 0;
    int32_t Moniker = 0;
    uint32_t CloseDeadline = 0;
    uint32_t RateWindowStart = 0;
    uint32_t LastAckTick = 0;
    uint32_t BusyInterval = 0;
    uint32_t LastBusyTick = 0;
    CMill* Mill = nullptr;
    uint8_t State = kPipeNew;
    uint32_t LiveTag = 0;
    int32_t TargetPort = 0;
    int32_t RemotePort = 0;
    TJar RecvJar;
    TJar OutJar;
    TJar BuildJar;
    std::string TargetHost;
    std::string RemoteAddress;
    std::string Protocol;
    std::string ExpectedAnswer;
    std::string ExpectedPasswordAnswer;
    std::string PeerPublicKey;
    std::string PeerCipherText;
    std::string OwnCipherText;
    std::string SessionSecret;
    std::u16string Username;
    std::u16string Password;
    std::vector<std::unique_ptr<TSack>> SendQueue;
    std::vector<TOkay> Okays;
    std::vector<std::unique_ptr<TSack>> PartialSacks;
    int32_t SendWindow = 0;
    int32_t RecvWindow = 0;
    int32_t InFlight = 0;
    int32_t ReceivedSinceAck = 0;
    int32_t SentInRateWindow = 0;
    bool Inbound = false;
    uint32_t StateTick = 0;
    int32_t PeerRateLimit = 0;

  private:
    void Log(const std::string& text) const;
};

}  // namespace qm
