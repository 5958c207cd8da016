// CSockLib: handles, host handler slots, LastError and the mapping of pipe notifications to host
// events (see include/qmsock/sock_lib.h).
#include "qmsock/sock_lib.h"

#include <limits>

#include "compress/defobj.h"
#include "core/jar.h"
#include "core/peer.h"
#include "core/variant.h"
#include "mill/mill.h"
#include "platform/platform.h"
#include "qmsock/loop.h"

namespace qm {
namespace {

// Calls a host handler through a copy of its slot: a host may empty or replace the slot from inside
// its own handler, which would otherwise destroy the callable while it runs.
template <class Slot, class... Args>
void Raise(const Slot& slot, Args&&... args) {
    Slot handler = slot;
    handler(std::forward<Args>(args)...);
}

}  // namespace

CSockLib::CSockLib() {
    mill_ = std::make_unique<CMill>();
    InstallNotificationHandlers();
    compressor_ = std::make_unique<TQMDefObj>();
}

CSockLib::~CSockLib() {
    // The manager first: it stops the worker thread and closes every pipe without notifications, so
    // no handler can run while the peers go.
    mill_.reset();
    for (auto& peer : peers_) peer->Tag = 0;
    peers_.clear();
    compressor_.reset();
}

// ---- Handles and peers ----------------------------------------------------------------------------------

bool CSockLib::FindPeer(int32_t handle) {
    current_ = nullptr;
    if (handle == 0) return false;
    for (const auto& peer : peers_) {
        if (peer->Handle == handle && peer->Tag == kPeerTag) {
            current_ = peer.get();
            return true;
        }
    }
    return false;
}

CPeer* CSockLib::PeerOfPipe(const CPipe* pipe) {
    const int32_t handle = mill_->GetMoniker(pipe);
    return FindPeer(handle) ? current_ : nullptr;
}

CPeer* CSockLib::AddPeer(CPipe* pipe, uint8_t state) {
    // Handles count up and skip 0 and any value still in use, so a handle that the host kept after
    // its session ended does not name a later session for the next two billion sessions.
    int32_t handle;
    do {
        nextHandle_ = nextHandle_ == std::numeric_limits<int32_t>::max() ? 1 : nextHandle_ + 1;
        handle = nextHandle_;
    } while (FindPeer(handle));
    auto peer = std::make_unique<CPeer>();
    peer->Tag = kPeerTag;
    peer->Pipe = pipe;
    peer->Handle = handle;
    peer->State = state;
    CPeer* result = peer.get();
    peers_.push_back(std::move(peer));
    mill_->SetMoniker(pipe, handle);
    return result;
}

void CSockLib::RemovePeer(int32_t handle) {
    // By handle, not by pointer: the host may already have closed the session from inside the event
    // that precedes the removal.
    for (auto it = peers_.begin(); it != peers_.end(); ++it) {
        if ((*it)->Handle != handle) continue;
        (*it)->Tag = 0;
        if (current_ == it->get()) current_ = nullptr;
        peers_.erase(it);
        return;
    }
}

const CPipe* CSockLib::CurrentPipe() {
    CPeer* peer = current_;
    if (peer == nullptr) return nullptr;
    return mill_->GetMoniker(peer->Pipe) == peer->Handle ? peer->Pipe : nullptr;
}

// ---- Notification handlers ------------------------------------------------------------------------------

void CSockLib::InstallNotificationHandlers() {
    CMill& mill = *mill_;
    mill.OnSessionRequest = [this](CPipe* pipe, const std::u16string& protocol,
                                   const std::u16string& username, std::u16string& password, bool& accept) {
        if (!OnSessionRequest) return;
        // One connection, one handle: a request repeated on a pipe that already has a peer (a
        // misbehaving or hostile client) asks about that peer again, which keeps its record and ends
        // with the connection, instead of stranding the first record behind a second one.
        CPeer* known = PeerOfPipe(pipe);
        const bool added = known == nullptr;
        const int32_t handle = added ? AddPeer(pipe, kPeerPending)->Handle : known->Handle;
        // A handler that throws has not accepted anything it left unaccepted: its record goes too.
        try {
            Raise(OnSessionRequest, *this, handle, protocol, username, password, accept);
        } catch (...) {
            if (added && !accept) RemovePeer(handle);
            throw;
        }
        if (added && !accept) RemovePeer(handle);
    };
    // The state follows the session whether or not the host listens for the event: a host without an
    // OnSessionInvoked handler still gets its packets, which are delivered only to open sessions.
    mill.OnSessionOpen = [this](CPipe* pipe) {
        CPeer* peer = PeerOfPipe(pipe);
        if (peer == nullptr) return;
        peer->State = kPeerOpen;
        if (OnSessionOpen) Raise(OnSessionOpen, *this, peer->Handle);
    };
    mill.OnSessionInvoked = [this](CPipe* pipe) {
        CPeer* peer = PeerOfPipe(pipe);
        if (peer == nullptr) return;
        peer->State = kPeerOpen;
        if (OnSessionInvoked) Raise(OnSessionInvoked, *this, peer->Handle);
    };
    // The three closing notifications: the state drops to 0 before the host hears of it, and the peer
    // goes only after the host returns, so the handle is still usable inside the event. The peer goes
    // even when the slot is empty or the handler throws: an ended session must not stay a live handle
    // (GetPeerState answering "open" for good, one record per connection never freed).
    auto closing = [this](CodeHandler CSockLib::*slot) {
        return [this, slot](CPipe* pipe, int32_t code) {
            CPeer* peer = PeerOfPipe(pipe);
            if (peer == nullptr || peer->State == kPeerClosed) return;
            peer->State = kPeerClosed;
            const int32_t handle = peer->Handle;
            if (this->*slot) {
                try {
                    Raise(this->*slot, *this, handle, code);
                } catch (...) {
                    RemovePeer(handle);
                    throw;
                }
            }
            RemovePeer(handle);
        };
    };
    mill.OnSessionRejected = closing(&CSockLib::OnSessionRejected);
    mill.OnInvocationRejected = closing(&CSockLib::OnInvocationRejected);
    mill.OnSessionClosed = closing(&CSockLib::OnSessionClosed);
    mill.OnPacketReceived = [this](CPipe* pipe, int32_t code, const TJar& body) {
        CPeer* peer = PeerOfPipe(pipe);
        if (peer == nullptr || !OnPacketReceived || peer->State != kPeerOpen) return;
        // Whatever the host left unread of the previous packet is dropped.
        peer->Jar = body;
        Raise(OnPacketReceived, *this, peer->Handle, code);
    };
    mill.OnPacketSent = [this](CPipe* pipe, int32_t code) {
        CPeer* peer = PeerOfPipe(pipe);
        if (peer == nullptr || !OnPacketSent || peer->State != kPeerOpen) return;
        Raise(OnPacketSent, *this, peer->Handle, code);
    };
}

// ---- Settings ------------------------------------------------------------------------------------------

int32_t CSockLib::SecurityMode() const {
    return mill_->SecurityMode;
}
void CSockLib::SetSecurityMode(int32_t value) {
    mill_->SecurityMode = value;
}
int32_t CSockLib::SocksVersion() const {
    return mill_->GetSocksVersion();
}
void CSockLib::SetSocksVersion(int32_t value) {
    mill_->SetSocksVersion(value);
}
int32_t CSockLib::SocksPort() const {
    return mill_->SocksPort;
}
void CSockLib::SetSocksPort(int32_t value) {
    mill_->SocksPort = value;
}
std::u16string CSockLib::SocksServer() const {
    return mill_->SocksServer;
}
void CSockLib::SetSocksServer(const std::u16string& value) {
    mill_->SocksServer = value;
}
std::u16string CSockLib::SocksUsername() const {
    return mill_->SocksUsername;
}
void CSockLib::SetSocksUsername(const std::u16string& value) {
    mill_->SocksUsername = value;
}
std::u16string CSockLib::SocksPassword() const {
    return mill_->SocksPassword;
}
void CSockLib::SetSocksPassword(const std::u16string& value) {
    mill_->SocksPassword = value;
}
std::u16string CSockLib::ClientAddress() const {
    return mill_->ClientAddress;
}
void CSockLib::SetClientAddress(const std::u16string& value) {
    mill_->ClientAddress = value;
}
std::u16string CSockLib::ServerAddress() const {
    return mill_->ServerAddress;
}
void CSockLib::SetServerAddress(const std::u16string& value) {
    mill_->ServerAddress = value;
}
std::u16string CSockLib::LocalIPList() const {
    return mill_->GetLocalIPList();
}
std::u16string CSockLib::PublicKey() const {
    return mill_->GetPublicKey();
}
void CSockLib::SetPublicKey(const std::u16string& value) {
    mill_->SetPublicKey(value);
}
std::u16string CSockLib::PrivateKey() const {
    return mill_->GetPrivateKey();
}
void CSockLib::SetPrivateKey(const std::u16string& value) {
    mill_->SetPrivateKey(value);
}
std::u16string CSockLib::SecretKey() const {
    return mill_->GetSecretKey();
}
void CSockLib::SetSecretKey(const std::u16string& value) {
    mill_->SetSecretKey(value);
}
std::u16string CSockLib::Fingerprints() const {
    return mill_->GetFingerprints();
}
void CSockLib::SetFingerprints(const std::u16string& value) {
    mill_->SetFingerprints(value);
}

// ---- Keys ------------------------------------------------------------------------------------------------

bool CSockLib::GenerateKeypair(std::string& aPublicKey, std::string& aPrivateKey) {
    aPublicKey.clear();
    aPrivateKey.clear();
    return mill_->GenerateKeypair(aPublicKey, aPrivateKey);
}

std::string CSockLib::TakeFingerprint(const std::string& aPublicKey) {
    return mill_->TakeFingerprint(aPublicKey);
}

// ---- Listener -------------------------------------------------------------------------------------------

bool CSockLib::StartListening(int32_t aPort) {
    return mill_->StartListening(aPort);
}
void CSockLib::StopListening() {
    mill_->StopListening();
}
bool CSockLib::IsListening() const {
    return mill_->IsListening();
}
int32_t CSockLib::ListeningPort() const {
    return mill_->ListeningPort();
}

// ---- Sessions -------------------------------------------------------------------------------------------

int32_t CSockLib::OpenSession(const std::u16string& aHost, int32_t aPort, const std::u16string& aProtocol,
                              const std::u16string& aUsername, const std::u16string& aPassword) {
    if (!OnSessionOpen || !OnSessionRejected) {
        lastError_ = 5;
        return 0;
    }
    CPipe* pipe = mill_->OpenSession(aHost, aPort, aProtocol, aUsername, aPassword);
    if (pipe == nullptr) {
        lastError_ = mill_->LastError;
        return 0;
    }
    return AddPeer(pipe, kPeerPending)->Handle;
}

bool CSockLib::CloseSession(int32_t aHandle) {
    if (!FindPeer(aHandle)) return false;
    if (current_->State == kPeerClosed) return true;
    current_->State = kPeerClosed;
    // The manager's closing notification finds the state already 0 and stays silent, so the host
    // hears exactly one OnSessionClosed(handle, 1), from here.
    mill_->CloseSession(CurrentPipe());
    if (OnSessionClosed) {
        try {
            Raise(OnSessionClosed, *this, aHandle, 1);
        } catch (...) {
            RemovePeer(aHandle);
            throw;
        }
    }
    RemovePeer(aHandle);
    return true;
}

int32_t CSockLib::GetPeerState(int32_t aHandle) {
    return FindPeer(aHandle) ? current_->State : 0;
}

bool CSockLib::SendPacket(int32_t aHandle, int32_t aCode, bool aNeedOkay) {
    if (!FindPeer(aHandle)) return false;
    mill_->SendSack(CurrentPipe(), aCode, aNeedOkay);
    return true;
}

int32_t CSockLib::GetOkayCount(int32_t aHandle, int32_t aCode) {
    return FindPeer(aHandle) ? mill_->GetOkayCount(CurrentPipe(), aCode) : 0;
}

int32_t CSockLib::GetOkaySize(int32_t aHandle, int32_t aCode) {
    return FindPeer(aHandle) ? mill_->GetOkaySize(CurrentPipe(), aCode) : 0;
}

int32_t CSockLib::GetFreeRoom(int32_t aHandle) {
    return FindPeer(aHandle) ? mill_->GetFreeRoom(CurrentPipe()) : 0;
}

int32_t CSockLib::GetMoniker(int32_t aHandle) {
    return FindPeer(aHandle) ? current_->Moniker : 0;
}

bool CSockLib::SetMoniker(int32_t aHandle, int32_t aMoniker) {
    if (!FindPeer(aHandle)) return false;
    current_->Moniker = aMoniker;
    return true;
}

std::u16string CSockLib::GetRemoteAddress(int32_t aHandle) {
    if (!FindPeer(aHandle)) return std::u16string();
    return platform::AnsiToWide(mill_->GetRemoteAddress(CurrentPipe()));
}

int32_t CSockLib::GetRemotePort(int32_t aHandle) {
    return FindPeer(aHandle) ? mill_->GetRemotePort(CurrentPipe()) : 0;
}

std::u16string CSockLib::GetUsername(int32_t aHandle) {
    return FindPeer(aHandle) ? mill_->GetUsername(CurrentPipe()) : std::u16string();
}

bool CSockLib::ServerConnection(int32_t aHandle) {
    return FindPeer(aHandle) && mill_->ServerConnection(CurrentPipe());
}

// ---- Outgoing buffer
// ---------------------------------------------------------------------------------------

bool CSockLib::TextToBuffer(int32_t aHandle, const std::u16string& aValue) {
    return FindPeer(aHandle) && mill_->TextToBuffer(CurrentPipe(), aValue);
}

bool CSockLib::IntegerToBuffer(int32_t aHandle, int32_t aValue) {
    return FindPeer(aHandle) && mill_->IntegerToBuffer(CurrentPipe(), aValue);
}

bool CSockLib::Int64ToBuffer(int32_t aHandle, int64_t aValue) {
    return FindPeer(aHandle) && mill_->Int64ToBuffer(CurrentPipe(), aValue);
}

bool CSockLib::BooleanToBuffer(int32_t aHandle, bool aValue) {
    return FindPeer(aHandle) && mill_->BooleanToBuffer(CurrentPipe(), aValue);
}

bool CSockLib::BytesToBuffer(int32_t aHandle, const THostVariant& aValue) {
    lastError_ = 0;
    TJar bytes;
    if (!VariantToJar(aValue, bytes)) {
        lastError_ = 4;
        return false;
    }
    if (!FindPeer(aHandle)) return false;
    // The manager's answer is not passed on: a valid handle appends or has nowhere to append.
    mill_->BytesToBuffer(CurrentPipe(), bytes);
    return true;
}

bool CSockLib::BytesToBuffer(int32_t aHandle, std::span<const uint8_t> aBytes) {
    lastError_ = 0;
    if (!FindPeer(aHandle)) return false;
    mill_->BytesToBuffer(CurrentPipe(), TJar(aBytes));
    return true;
}

// ---- Received packet
// ---------------------------------------------------------------------------------------

std::u16string CSockLib::TextFromBuffer(int32_t aHandle) {
    return FindPeer(aHandle) ? JarGetWideText(current_->Jar) : std::u16string();
}

int32_t CSockLib::IntegerFromBuffer(int32_t aHandle) {
    return FindPeer(aHandle) ? JarGetInteger(current_->Jar) : 0;
}

int64_t CSockLib::Int64FromBuffer(int32_t aHandle) {
    return FindPeer(aHandle) ? JarGetInt64(current_->Jar) : 0;
}

bool CSockLib::BooleanFromBuffer(int32_t aHandle) {
    return FindPeer(aHandle) && JarGetBoolean(current_->Jar);
}

bool CSockLib::BytesFromBuffer(int32_t aHandle, std::vector<uint8_t>& aBytes) {
    aBytes.clear();
    if (!FindPeer(aHandle)) return false;
    aBytes = JarGetJar(current_->Jar).Bytes();
    return true;
}

#if !defined(_WIN32)
TVariant CSockLib::BytesFromBuffer(int32_t aHandle) {
    TVariant result(int32_t{0});
    if (!FindPeer(aHandle)) return result;
    JarToVariant(JarGetJar(current_->Jar), result);
    return result;
}
#endif

// ---- Compression
// -------------------------------------------------------------------------------------------

bool CSockLib::CompressData(THostVariant& aData) {
    TJar jar;
    if (!VariantToJar(aData, jar) || !compressor_) return false;
    std::vector<uint8_t> bytes = jar.Bytes();
    compressor_->CompressBlock(bytes);
    // A result that no longer fits a 32-bit length cannot be handed back.
    if (bytes.size() > static_cast<size_t>(kJarMaxLength)) return false;
    return JarToVariant(TJar(std::move(bytes)), aData);
}

bool CSockLib::DecompressData(THostVariant& aData) {
    TJar jar;
    if (!VariantToJar(aData, jar) || !compressor_) return false;
    std::vector<uint8_t> bytes = jar.Bytes();
    if (!compressor_->DecompressBlock(bytes, static_cast<size_t>(kJarMaxLength))) return false;
    return JarToVariant(TJar(std::move(bytes)), aData);
}

// ---- Owner-thread loop
// --------------------------------------------------------------------------------------

int CSockLib::MessageFd() const {
    return mill_->Window ? mill_->Window->PollFd() : -1;
}

void PumpMessages() {
    platform::PumpMessages();
}
void RunMessagesFor(uint32_t ms) {
    platform::RunMessagesFor(ms);
}
bool RunMessagesUntil(const std::function<bool()>& done, uint32_t ms) {
    return platform::RunMessagesUntil(done, ms);
}

}  // namespace qm
