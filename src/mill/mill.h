// CMill: the session manager of one library instance.
//
// Contract:
// - Ownership: owns every pipe (Pipes, in creation order; the listening pipe apart in Listener), the
//   settings that pipes read while they work, the owner-thread queue (Window) and the worker thread
//   (Pump). Destroying the manager stops the worker thread first, then the queue (freeing the sacks
//   of queued deliveries), then the listener and every pipe, raising no notification.
// - Threads: create, use and destroy on one thread, the owner thread, whose message loop must run for
//   any network progress. The worker thread touches only PumpPending and posts to Window.
// - Pipe references: a CPipe* from a caller is compared with the members of Pipes before it is
//   followed, so a reference to a removed pipe is refused (LastError 3) and never dereferenced.
// - Re-entrance: notification slots are called synchronously from inside pipe steps and may call back
//   into the manager (open or close sessions, send, append). Pipes leave Pipes only in the purge step
//   of a pump pass and at destruction, so references held by a running pass stay valid, and every step
//   re-reads a pipe's state after a call-out.
// - Bad input: host texts of any length, any port number and any pipe reference give the failure
//   answers below, never a fault. Exceptions inside a pass or an operation are caught and logged as
//   "*EXP*  " followed by the operation's name.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/jar.h"
#include "mill/log.h"
#include "pipe/pipe.h"
#include "pipe/sack.h"
#include "platform/platform.h"

namespace qm {

class CMill;

// The worker thread: asks the owner thread for one pump pass every 10 ms, never with two requests
// outstanding.
class CPump {
  public:
    explicit CPump(CMill& mill) : Mill(&mill) {}
    bool Start();
    void Terminate();  // asks the loop to end and waits until it has
    bool Finished() const { return thread_.Finished(); }

    CMill* Mill;

  private:
    void Execute(const platform::WorkerThread& self);
    platform::WorkerThread thread_;
};

inline constexpr uint32_t kPumpIntervalMs = 10;

class CMill {
  public:
    CMill();
    ~CMill();
    CMill(const CMill&) = delete;
    CMill& operator=(const CMill&) = delete;

    // ---- Notification slots (an empty slot is skipped) ----------------------------------------------
    std::function<void(CPipe* pipe, const std::u16string& protocol, const std::u16string& username,
                       std::u16string& password, bool& accept)>
        OnSessionRequest;
    std::function<void(CPipe* pipe)> OnSessionOpen;
    std::function<void(CPipe* pipe)> OnSessionInvoked;
    std::function<void(CPipe* pipe, int32_t code)> OnSessionRejected;
    std::function<void(CPipe* pipe, int32_t code)> OnInvocationRejected;
    std::function<void(CPipe* pipe, int32_t code)> OnSessionClosed;
    std::function<void(CPipe* pipe, TSack* sack)> OnBondSack;
    std::function<void(CPipe* pipe, int32_t code, const TJar& body)> OnPacketReceived;
    std::function<void(CPipe* pipe, int32_t code)> OnPacketSent;

    // ---- Diagnostic log -------------------------------------------------------------------------------
    bool LogOn() const { return !LogPath.empty(); }
    void Log(std::string_view text) const {
        if (LogOn()) WriteLogLine(LogPath, text);
    }

    // ---- Lookups and error channel ------------------------------------------------------------------
    CPipe* GetPipe(const CPipe* reference) const;
    bool SelectPipe(const CPipe* reference);
    void RecordError(int32_t code);
    bool ResolveHost(std::string_view text, uint32_t& address);
    static bool IsDottedQuad(std::string_view text);
    std::string FirstLocalAddress() const;
    bool IsTrustedKey(const std::string& rawKey) const;

    // ---- Operations for the library core ------------------------------------------------------------
    CPipe* OpenSession(const std::u16string& host, int32_t port, const std::u16string& protocol,
                       const std::u16string& username, const std::u16string& password);
    bool CloseSession(const CPipe* pipe);
    TSack* SendSack(const CPipe* pipe, int32_t code, bool needOkay);
    bool StartListening(int32_t port);
    void StopListening();
    bool IsListening() const;
    // The local port of the listening socket (useful after StartListening(0)); 0 when not listening.
    int32_t ListeningPort() const;
    int32_t GetMoniker(const CPipe* pipe);
    bool SetMoniker(const CPipe* pipe, int32_t value);
    std::u16string GetUsername(const CPipe* pipe);
    std::string GetRemoteAddress(const CPipe* pipe);
    int32_t GetRemotePort(const CPipe* pipe);
    bool ServerConnection(const CPipe* pipe);
    int32_t GetFreeRoom(const CPipe* pipe);
    int32_t GetOkayCount(const CPipe* pipe, int32_t code);
    int32_t GetOkaySize(const CPipe* pipe, int32_t code);
    bool TextToBuffer(const CPipe* pipe, std::u16string_view value);
    bool IntegerToBuffer(const CPipe* pipe, int32_t value);
    bool Int64ToBuffer(const CPipe* pipe, int64_t value);
    bool BooleanToBuffer(const CPipe* pipe, bool value);
    bool BytesToBuffer(const CPipe* pipe, const TJar& value);
    // A new RSA key pair as key texts; PublicKey and PrivateKey are not changed. The owner thread's
    // messages are dispatched while it runs, so pump passes and deliveries may run nested.
    bool GenerateKeypair(std::string& publicKey, std::string& privateKey);
    std::string TakeFingerprint(const std::string& keyText) const;

    // ---- Settings as the host sees them --------------------------------------------------------------
    int32_t GetSocksVersion() const { return SocksVersion; }
    void SetSocksVersion(int32_t value) { SocksVersion = static_cast<uint8_t>(value & 0xFF); }
    std::u16string GetPublicKey() const;
    void SetPublicKey(std::u16string_view text);
    std::u16string GetPrivateKey() const;
    void SetPrivateKey(std::u16string_view text);
    std::u16string GetSecretKey() const;
    void SetSecretKey(std::u16string_view text);
    std::u16string GetFingerprints() const;
    void SetFingerprints(std::u16string_view text);
    std::u16string GetLocalIPList() const;

    // ---- Owner-thread queue and pump ----------------------------------------------------------------
    // Hands a completely received sack to the owner thread's queue; it is delivered after the current
    // pass, in posting order. Answers false (and frees the sack) when the queue refused it.
    bool PostSackMessage(CPipe* pipe, std::unique_ptr<TSack> sack);
    void PumpUp();
    void PurgePipes();
    void CheckPipeTimers();
    void ServicePipes();
    void DeliverSack(CPipe* pipe, std::unique_ptr<TSack> sack);
    // Appends a new pipe to Pipes (accepted connections, new sessions) and answers it.
    CPipe* AddPipe();
    // Number of pump passes run so far (diagnostics and tests).
    uint64_t PassCount() const { return passCount_; }

    // ---- Fields ------------------------------------------------------------------------------------
    // Keeps Windows Sockets started for as long as the manager lives; first, so it outlives every socket.
    platform::SocketsGuard Sockets;
    std::string LogPath;
    std::atomic<bool> PumpPending{false};
    std::unique_ptr<platform::OwnerQueue> Window;
    std::vector<std::unique_ptr<CPipe>> Pipes;
    CPipe* Current = nullptr;
    std::vector<std::string> LocalAddresses;
    std::string PublicKey;
    std::string PrivateKey;
    std::string SecretKey;
    std::vector<std::string> Fingerprints;
    std::unique_ptr<CPump> Pump;
    int32_t LastError = 0;
    int32_t SecurityMode = 0;
    std::string LoopbackAddress;
    std::string LocalIPList;
    std::u16string ClientAddress;
    std::u16string ServerAddress;
    uint8_t SocksVersion = 4;
    std::u16string SocksServer;
    std::u16string SocksUsername;
    std::u16string SocksPassword;
    int32_t SocksPort = 0;
    std::unique_ptr<CPipe> Listener;

  private:
    void WindowProc(uint32_t msg, uintptr_t wparam, void* payload);
    void RefreshLoopbackAddress();
    void RefreshLocalAddresses();

    bool inPass_ = false;
    uint64_t passCount_ = 0;
    std::minstd_rand random_;
};

}  // namespace qm
