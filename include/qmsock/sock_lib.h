// qm::CSockLib: the library core, the C++ face of one message-session endpoint.
//
// A host creates one CSockLib per endpoint, fills the handler slots it wants, and then listens
// (StartListening) or opens sessions (OpenSession). Sessions are named by 32-bit handles. Packets are
// built by appending values to a session's outgoing buffer (...ToBuffer) and sent with SendPacket; a
// received packet is read back value by value (...FromBuffer) from inside or after OnPacketReceived.
//
// Contract:
// - Threads: create, use and destroy a CSockLib on one thread, the owner thread. All network work and
//   every handler call happen on that thread while it runs its message loop: on Windows the thread's
//   window-message loop; elsewhere qm::PumpMessages / RunMessagesFor / RunMessagesUntil, or
//   qm::MessageFd() in the host's own poll loop (qmsock/loop.h). Without it nothing progresses.
// - Handles: 32-bit, positive, unique among live sessions, and not given out again by this object
//   until about two billion later sessions have passed; a handle is checked against the live sessions
//   before use, so any value is safe to pass. A bad handle gives the operation's empty answer (false,
//   0, empty) and leaves LastError alone.
// - LastError is written only by OpenSession (on failure) and BytesToBuffer (always); session failures
//   arrive as handler calls with a code (OnSessionRejected, OnInvocationRejected, OnSessionClosed).
// - Re-entrance: handlers may call any operation, including CloseSession on their own handle. During
//   the closing handlers the handle is still valid (GetPeerState answers 0); afterwards it is not,
//   also when the handler threw or the slot was empty. A handler must not destroy the object whose
//   event it is handling.
// - Ordinary failures are return values; no operation throws for bad input.
// - Destroying the object closes every session and the listener without calling any handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#if defined(_WIN32)
struct tagVARIANT;
namespace qm {
// The automation VARIANT of the Windows build.
using THostVariant = ::tagVARIANT;
}  // namespace qm
#else
#include "qmsock/variant.h"
namespace qm {
using THostVariant = TVariant;
}  // namespace qm
#endif

namespace qm {

class CMill;
class CPeer;
class CPipe;
class TQMDefObj;

class CSockLib {
  public:
    // ---- Handler slots: an empty slot means the event is not raised -------------------------------
    // An incoming session asks to be accepted. Set accept to true to take it; the password may be
    // replaced with the one expected from this user. While this slot is empty every incoming session
    // request is refused.
    using RequestHandler =
        std::function<void(CSockLib& lib, int32_t aHandle, const std::u16string& aProtocol,
                           const std::u16string& aUsername, std::u16string& aPassword, bool& aAccept)>;
    using SessionHandler = std::function<void(CSockLib& lib, int32_t aHandle)>;
    using CodeHandler = std::function<void(CSockLib& lib, int32_t aHandle, int32_t aCode)>;

    RequestHandler OnSessionRequest;
    SessionHandler OnSessionInvoked;
    SessionHandler OnSessionOpen;
    CodeHandler OnInvocationRejected;
    CodeHandler OnSessionRejected;
    CodeHandler OnSessionClosed;
    CodeHandler OnPacketReceived;
    CodeHandler OnPacketSent;

    CSockLib();
    ~CSockLib();
    CSockLib(const CSockLib&) = delete;
    CSockLib& operator=(const CSockLib&) = delete;

    // ---- Settings, read and written at the moment of the call -----------------------------------------
    int32_t SecurityMode() const;
    void SetSecurityMode(int32_t value);
    // Kept in 8 bits: 260 reads back as 4.
    int32_t SocksVersion() const;
    void SetSocksVersion(int32_t value);
    int32_t SocksPort() const;
    void SetSocksPort(int32_t value);
    std::u16string SocksServer() const;
    void SetSocksServer(const std::u16string& value);
    std::u16string SocksUsername() const;
    void SetSocksUsername(const std::u16string& value);
    std::u16string SocksPassword() const;
    void SetSocksPassword(const std::u16string& value);
    std::u16string ClientAddress() const;
    void SetClientAddress(const std::u16string& value);
    std::u16string ServerAddress() const;
    void SetServerAddress(const std::u16string& value);
    // This computer's IPv4 addresses, comma-separated, as found when the object was created.
    std::u16string LocalIPList() const;
    // RSA keys in their Base64 text form.
    std::u16string PublicKey() const;
    void SetPublicKey(const std::u16string& value);
    std::u16string PrivateKey() const;
    void SetPrivateKey(const std::u16string& value);
    std::u16string SecretKey() const;
    void SetSecretKey(const std::u16string& value);
    // Accepted peer key fingerprints as comma text; empty accepts every key.
    std::u16string Fingerprints() const;
    void SetFingerprints(const std::u16string& value);
    int32_t LastError() const { return lastError_; }

    // ---- Keys ---------------------------------------------------------------------------------------
    // A new RSA key pair as 8-bit texts; the PublicKey and PrivateKey settings are not changed.
    bool GenerateKeypair(std::string& aPublicKey, std::string& aPrivateKey);
    std::string TakeFingerprint(const std::string& aPublicKey);

    // ---- Listener -------------------------------------------------------------------------------------
    bool StartListening(int32_t aPort);
    void StopListening();
    bool IsListening() const;
    // The listener's local port (the one the system chose after StartListening(0)); 0 when not listening.
    int32_t ListeningPort() const;

    // ---- Sessions -------------------------------------------------------------------------------------
    // Starts a session and answers its handle; 0 with LastError set when it could not be started. The
    // outcome arrives later as OnSessionOpen or OnSessionRejected, which must both be filled.
    int32_t OpenSession(const std::u16string& aHost, int32_t aPort, const std::u16string& aProtocol,
                        const std::u16string& aUsername, const std::u16string& aPassword);
    // Closes the session; OnSessionClosed(aHandle, 1) is raised before this returns.
    bool CloseSession(int32_t aHandle);
    // 0 closed, 1 pending, 2 open.
    int32_t GetPeerState(int32_t aHandle);
    // Sends the outgoing buffer as one packet with the host's code. Answers true for any valid handle;
    // before the session is open nothing is queued and the buffer keeps its contents.
    bool SendPacket(int32_t aHandle, int32_t aCode, bool aNeedOkay);
    int32_t GetOkayCount(int32_t aHandle, int32_t aCode);
    int32_t GetOkaySize(int32_t aHandle, int32_t aCode);
    int32_t GetFreeRoom(int32_t aHandle);
    int32_t GetMoniker(int32_t aHandle);
    bool SetMoniker(int32_t aHandle, int32_t aMoniker);
    std::u16string GetRemoteAddress(int32_t aHandle);
    int32_t GetRemotePort(int32_t aHandle);
    std::u16string GetUsername(int32_t aHandle);
    bool ServerConnection(int32_t aHandle);

    // ---- Outgoing buffer ------------------------------------------------------------------------------
    bool TextToBuffer(int32_t aHandle, const std::u16string& aValue);
    bool IntegerToBuffer(int32_t aHandle, int32_t aValue);
    bool Int64ToBuffer(int32_t aHandle, int64_t aValue);
    bool BooleanToBuffer(int32_t aHandle, bool aValue);
    // LastError becomes 0, or 4 when aValue is not an array.
    bool BytesToBuffer(int32_t aHandle, const THostVariant& aValue);
    // The same for plain bytes (LastError becomes 0).
    bool BytesToBuffer(int32_t aHandle, std::span<const uint8_t> aBytes);

    // ---- Received packet ------------------------------------------------------------------------------
    std::u16string TextFromBuffer(int32_t aHandle);
    int32_t IntegerFromBuffer(int32_t aHandle);
    int64_t Int64FromBuffer(int32_t aHandle);
    bool BooleanFromBuffer(int32_t aHandle);
    // The next byte block; false (and aBytes emptied) for a bad handle. An exhausted buffer gives true
    // and no bytes.
    bool BytesFromBuffer(int32_t aHandle, std::vector<uint8_t>& aBytes);
#if !defined(_WIN32)
    // The variant form: the integer 0 for a bad handle, else a byte array with lower bound 0.
    TVariant BytesFromBuffer(int32_t aHandle);
#endif

    // ---- Compression of host data ---------------------------------------------------------------------
    // Replace the byte array in aData by its compressed (decompressed) form; false, aData unchanged,
    // when it is not a byte array or not valid compressed data.
    bool CompressData(THostVariant& aData);
    bool DecompressData(THostVariant& aData);

    // Readable while messages wait for the owner thread (shared by every library object of the thread),
    // for a host's own poll/epoll loop; -1 on Windows, where the window-message loop waits instead.
    int MessageFd() const;

    // The session manager, for the layers built on this core (automation shell, tools, tests).
    CMill& Mill() {
        return *mill_;
    }

  private:
    bool FindPeer(int32_t handle);
    CPeer* PeerOfPipe(const CPipe* pipe);
    CPeer* AddPeer(CPipe* pipe, uint8_t state);
    void RemovePeer(int32_t handle);
    // The pipe of the current peer, or null when the manager's moniker slot of that pipe no longer
    // names this peer (the pipe is gone and its memory may belong to another pipe now).
    const CPipe* CurrentPipe();
    void InstallNotificationHandlers();

    std::unique_ptr<CMill> mill_;
    std::vector<std::unique_ptr<CPeer>> peers_;
    CPeer* current_ = nullptr;
    std::unique_ptr<TQMDefObj> compressor_;
    int32_t lastError_ = 0;
    int32_t nextHandle_ = 0;
};

}  // namespace qm
