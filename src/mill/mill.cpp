// CMill: settings, lookups, session and listener operations, and the owner-thread pump (see mill.h).
#include "mill/mill.h"

#include <algorithm>
#include <cctype>

#include "crypto/base64.h"
#include "crypto/rsa.h"
#include "mill/address.h"
#include "mill/comma_text.h"

namespace qm {
namespace {

// Host texts of 257 characters or more are refused before they reach the resolver, whose buffer is
// 257 bytes.
constexpr size_t kHostTextLimit = 257;

std::string Narrow(std::u16string_view text) {
    return platform::WideToAnsi(text);
}
std::u16string Widen(std::string_view text) {
    return platform::AnsiToWide(text);
}

// The host's code travels as code + 1000; the addition wraps like the 32-bit machine arithmetic it
// models, so any host value is accepted without overflow.
int32_t WireCode(int32_t code) {
    return static_cast<int32_t>(static_cast<uint32_t>(code) + 1000u);
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

// ---- CPump -------------------------------------------------------------------------------------------

bool CPump::Start() {
    return thread_.Start([this](const platform::WorkerThread& self) { Execute(self); });
}

void CPump::Terminate() {
    thread_.RequestStop();
    thread_.Join();
}

void CPump::Execute(const platform::WorkerThread& self) {
    while (!self.StopRequested()) {
        // Test-and-set: only the thread that turns the flag on posts, so at most one request is ever
        // queued or running. The owner thread clears it at the end of the pass.
        if (!Mill->PumpPending.exchange(true)) {
            // A refused post must not leave the flag on, or no pass would ever be requested again.
            if (!Mill->Window->Post(platform::kPumpMessage, 0, nullptr)) Mill->PumpPending.store(false);
        }
        platform::SleepMs(kPumpIntervalMs);
    }
}

// ---- Construction and destruction ---------------------------------------------------------------------

CMill::CMill() : LogPath(LogPathFromEnvironment()) {
    uint32_t seed = 0;
    platform::RandomBytes(&seed, sizeof seed);
    random_.seed(seed);
    RefreshLoopbackAddress();
    RefreshLocalAddresses();
    SocksVersion = 4;
    Window = std::make_unique<platform::OwnerQueue>(
        [this](uint32_t msg, uintptr_t wparam, void* payload) { WindowProc(msg, wparam, payload); },
        [](uint32_t msg, uintptr_t, void* payload) {
            if (msg == platform::kSackMessage) delete static_cast<TSack*>(payload);
        });
    Pump = std::make_unique<CPump>(*this);
    Pump->Start();
}

CMill::~CMill() {
    // The worker thread goes first, so nothing is posted to a queue that no longer exists; the queue
    // next, which frees the sacks of deliveries that never ran; then the pipes, with no notification.
    if (Pump) Pump->Terminate();
    Pump.reset();
    Window.reset();
    LocalAddresses.clear();
    Listener.reset();
    Pipes.clear();
    Fingerprints.clear();
    Log("");
    Log("================> CMill finishing... ");
    Log("");
}

void CMill::RefreshLoopbackAddress() {
    LoopbackAddress = "127.0.0.1";
    uint32_t address = 0;
    if (ResolveHost("localhost", address)) LoopbackAddress = platform::InetNtoa(address);
}

void CMill::RefreshLocalAddresses() {
    LocalAddresses.clear();
    for (uint32_t address : platform::LocalIPv4Addresses())
        LocalAddresses.push_back(platform::InetNtoa(address));
    LocalIPList = CommaTextOf(LocalAddresses);
}

// ---- Lookups and error channel --------------------------------------------------------------------------

CPipe* CMill::GetPipe(const CPipe* reference) const {
    if (reference == nullptr) return nullptr;
    try {
        // Membership first: only a pointer found in the list is ever followed.
        for (const auto& pipe : Pipes) {
            if (pipe.get() == reference) return pipe->LiveTag == kLiveTag ? pipe.get() : nullptr;
        }
    } catch (...) {
        Log("*EXP*  GetPipe");
    }
    return nullptr;
}

bool CMill::SelectPipe(const CPipe* reference) {
    LastError = 0;
    Current = GetPipe(reference);
    if (Current == nullptr) LastError = 3;
    return Current != nullptr;
}

void CMill::RecordError(int32_t code) {
    if (code != 0) {
        LastError = code;
        return;
    }
    LastError = platform::LastSocketError();
    if (LastError == 0) LastError = 2;
}

bool CMill::IsDottedQuad(std::string_view text) {
    return qm::IsDottedQuad(text);
}

bool CMill::ResolveHost(std::string_view text, uint32_t& address) {
    address = 0;
    // A stale code from an earlier call must not be reported for this one: a failure that the
    // resolver does not describe reads as 2 ("Unknown error").
    platform::SetLastSocketError(0);
    if (text.empty() || text.size() >= kHostTextLimit) return false;
    size_t first = 0;
    size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    const std::string trimmed(text.substr(first, last - first));
    if (IsDottedQuad(text)) {
        address = platform::InetAddr(trimmed);
    } else {
        int error = 0;
        uint32_t found = 0;
        if (platform::ResolveHost(trimmed, found, error)) address = found;
    }
    return address != 0;
}

std::string CMill::FirstLocalAddress() const {
    return LocalAddresses.empty() ? std::string() : LocalAddresses[0];
}

bool CMill::IsTrustedKey(const std::string& rawKey) const {
    if (Fingerprints.empty()) return true;
    const std::string fingerprint = qm::TakeFingerprint(Base64Encode(rawKey));
    for (const std::string& trusted : Fingerprints) {
        if (SameTextIgnoringCase(fingerprint, trusted)) return true;
    }
    return false;
}

bool CMill::GenerateKeypair(std::string& publicKey, std::string& privateKey) {
    publicKey.clear();
    privateKey.clear();
    try {
        return qm::GenerateKeypair(publicKey, privateKey);
    } catch (...) {
        Log("*EXP*  CMill.GenerateKeypair");
        return false;
    }
}

std::string CMill::TakeFingerprint(const std::string& keyText) const {
    return qm::TakeFingerprint(keyText);
}

CPipe* CMill::AddPipe() {
    Pipes.push_back(std::make_unique<CPipe>(*this));
    return Pipes.back().get();
}

// ---- Operations for the library core -------------------------------------------------------------------

CPipe* CMill::OpenSession(const std::u16string& host, int32_t port, const std::u16string& protocol,
                          const std::u16string& username, const std::u16string& password) {
    try {
        if (LogOn())
            Log("CMill.OpenSession  " + Narrow(host) + " " + std::to_string(port) + " " + Narrow(protocol) +
                " " + Narrow(username) + " " + Narrow(password) + " {" + std::to_string(Pipes.size()) + "}");
        LastError = 0;
        CPipe* pipe = AddPipe();
        pipe->Protocol = Narrow(protocol);
        pipe->Username = username;
        pipe->Password = password;
        pipe->RemoteAddress = Narrow(host);
        pipe->RemotePort = port;
        pipe->CreateSocket();
        pipe->SetSocketOptions();
        pipe->SetSendWindow(kInitialWindow);
        pipe->SetRecvWindow(kInitialWindow);
        pipe->Bind(Narrow(ClientAddress), 0);
        pipe->Connect(Narrow(host), port);
        if (LastError != 0) {
            // From state 0 this raises nothing; the pump removes the pipe once it has shut down.
            pipe->FinishSession(LastError);
            return nullptr;
        }
        return pipe;
    } catch (...) {
        Log("*EXP*  CMill.OpenSession");
        if (LastError == 0) LastError = 2;
        return nullptr;
    }
}

bool CMill::CloseSession(const CPipe* pipe) {
    Log("CPipe.CloseSession");
    if (!SelectPipe(pipe)) return false;
    Current->FinishSession(1);
    return true;
}

TSack* CMill::SendSack(const CPipe* pipe, int32_t code, bool needOkay) {
    if (LogOn()) Log("CMill.SendSack1 " + std::to_string(code));
    if (!SelectPipe(pipe) || Current->State != kPipeEstablished) return nullptr;
    try {
        const int32_t wire = WireCode(code);
        TSack* sack = Current->PostSack(wire);
        if (needOkay) {
            sack->NeedOkay = true;
            Current->Okays.push_back(TOkay{wire, sack->Body.Length()});
        }
        if (LogOn()) Log("CMill.SendSack2 " + std::to_string(wire));
        return sack;
    } catch (...) {
        Log("*EXP*  CMill.SendSack");
        return nullptr;
    }
}

bool CMill::StartListening(int32_t port) {
    try {
        LastError = 0;
        Listener.reset();
        if (LogOn()) Log("CPipe.StartListening: " + Narrow(ServerAddress) + " " + std::to_string(port));
        Listener = std::make_unique<CPipe>(*this);
        Listener->CreateSocket();
        Listener->Bind(Narrow(ServerAddress), port);
        Listener->Listen();
        if (LogOn()) Log("CPipe.StartListening2: " + std::to_string(LastError));
        if (LastError != 0) {
            Listener->FinishSession(LastError);
            return false;
        }
        return true;
    } catch (...) {
        Log("*EXP*  CMill.StartListening");
        if (LastError == 0) LastError = 2;
        return false;
    }
}

void CMill::StopListening() {
    Log("CPipe.StopListening");
    LastError = 0;
    Listener.reset();
}

bool CMill::IsListening() const {
    return Listener && Listener->State == kPipeListening;
}

int32_t CMill::ListeningPort() const {
    uint32_t address = 0;
    int port = 0;
    if (!IsListening() || !Listener->Socket.SockName(address, port)) return 0;
    return port;
}

int32_t CMill::GetMoniker(const CPipe* pipe) {
    try {
        return SelectPipe(pipe) ? Current->Moniker : 0;
    } catch (...) {
        Log("*EXP*  GetMoniker");
        return 0;
    }
}

bool CMill::SetMoniker(const CPipe* pipe, int32_t value) {
    try {
        if (!SelectPipe(pipe)) return false;
        Current->Moniker = value;
        return true;
    } catch (...) {
        Log("*EXP*  SetMoniker");
        return false;
    }
}

std::u16string CMill::GetUsername(const CPipe* pipe) {
    return SelectPipe(pipe) ? Current->Username : std::u16string();
}

std::string CMill::GetRemoteAddress(const CPipe* pipe) {
    return SelectPipe(pipe) ? Current->RemoteAddress : std::string();
}

int32_t CMill::GetRemotePort(const CPipe* pipe) {
    return SelectPipe(pipe) ? Current->RemotePort : 0;
}

bool CMill::ServerConnection(const CPipe* pipe) {
    return SelectPipe(pipe) && Current->Inbound;
}

int32_t CMill::GetFreeRoom(const CPipe* pipe) {
    if (!SelectPipe(pipe)) return 0;
    int32_t room = Current->SendWindow;
    Current->LimitToRate(room);
    return room;
}

int32_t CMill::GetOkayCount(const CPipe* pipe, int32_t code) {
    if (!SelectPipe(pipe)) return 0;
    const int32_t wire = WireCode(code);
    int32_t count = 0;
    for (const TOkay& okay : Current->Okays) {
        if (code == 0 || okay.Code == wire) ++count;
    }
    return count;
}

int32_t CMill::GetOkaySize(const CPipe* pipe, int32_t code) {
    if (!SelectPipe(pipe)) return 0;
    const int32_t wire = WireCode(code);
    // The sum wraps like the 32-bit total it reports instead of overflowing.
    uint32_t size = 0;
    for (const TOkay& okay : Current->Okays) {
        if (code == 0 || okay.Code == wire) size += static_cast<uint32_t>(okay.Size);
    }
    return static_cast<int32_t>(size);
}

bool CMill::TextToBuffer(const CPipe* pipe, std::u16string_view value) {
    if (!SelectPipe(pipe)) return false;
    try {
        JarAddWideText(Current->BuildJar, value);
        return true;
    } catch (...) {
        // A buffer that cannot grow (out of memory, or past the 32-bit length) keeps what it had.
        Log("*EXP*  CMill.TextToBuffer");
        return false;
    }
}

bool CMill::IntegerToBuffer(const CPipe* pipe, int32_t value) {
    if (!SelectPipe(pipe)) return false;
    try {
        JarAddInteger(Current->BuildJar, value);
        return true;
    } catch (...) {
        // A buffer that cannot grow (out of memory, or past the 32-bit length) keeps what it had.
        Log("*EXP*  CMill.IntegerToBuffer");
        return false;
    }
}

bool CMill::Int64ToBuffer(const CPipe* pipe, int64_t value) {
    if (!SelectPipe(pipe)) return false;
    try {
        JarAddInt64(Current->BuildJar, value);
        return true;
    } catch (...) {
        // A buffer that cannot grow (out of memory, or past the 32-bit length) keeps what it had.
        Log("*EXP*  CMill.Int64ToBuffer");
        return false;
    }
}

bool CMill::BooleanToBuffer(const CPipe* pipe, bool value) {
    if (!SelectPipe(pipe)) return false;
    try {
        JarAddBoolean(Current->BuildJar, value);
        return true;
    } catch (...) {
        // A buffer that cannot grow (out of memory, or past the 32-bit length) keeps what it had.
        Log("*EXP*  CMill.BooleanToBuffer");
        return false;
    }
}

bool CMill::BytesToBuffer(const CPipe* pipe, const TJar& value) {
    if (!SelectPipe(pipe)) return false;
    try {
        JarAddJar(Current->BuildJar, value);
        return true;
    } catch (...) {
        // A buffer that cannot grow (out of memory, or past the 32-bit length) keeps what it had.
        Log("*EXP*  CMill.BytesToBuffer");
        return false;
    }
}

// ---- Settings -------------------------------------------------------------------------------------------

std::u16string CMill::GetPublicKey() const {
    return Widen(Base64Encode(PublicKey));
}
void CMill::SetPublicKey(std::u16string_view text) {
    PublicKey = Base64Decode(Narrow(text));
}
std::u16string CMill::GetPrivateKey() const {
    return Widen(Base64Encode(PrivateKey));
}
void CMill::SetPrivateKey(std::u16string_view text) {
    PrivateKey = Base64Decode(Narrow(text));
}
std::u16string CMill::GetSecretKey() const {
    return Widen(SecretKey);
}
void CMill::SetSecretKey(std::u16string_view text) {
    SecretKey = Narrow(text);
}
std::u16string CMill::GetFingerprints() const {
    return Widen(CommaTextOf(Fingerprints));
}
void CMill::SetFingerprints(std::u16string_view text) {
    Fingerprints = ParseCommaText(Narrow(text));
}
std::u16string CMill::GetLocalIPList() const {
    return Widen(LocalIPList);
}

// ---- Owner-thread queue and pump ------------------------------------------------------------------------

void CMill::WindowProc(uint32_t msg, uintptr_t wparam, void* payload) {
    if (msg == platform::kPumpMessage) {
        PumpUp();
    } else if (msg == platform::kSackMessage) {
        DeliverSack(reinterpret_cast<CPipe*>(wparam), std::unique_ptr<TSack>(static_cast<TSack*>(payload)));
    }
}

bool CMill::PostSackMessage(CPipe* pipe, std::unique_ptr<TSack> sack) {
    if (!Window || !sack) return false;
    TSack* raw = sack.release();
    if (Window->Post(platform::kSackMessage, reinterpret_cast<uintptr_t>(pipe), raw)) return true;
    delete raw;
    return false;
}

void CMill::PumpUp() {
    // A pass never runs inside another one: PumpPending keeps a second request from being posted, and
    // this flag covers a host that drives PumpUp itself from inside a handler.
    if (inPass_) return;
    inPass_ = true;
    ++passCount_;
    try {
        if (Listener) Listener->DetectSessionInvoked();
        PurgePipes();
        CheckPipeTimers();
        ServicePipes();
    } catch (...) {
        Log("*EXP*  CMill.PumpUp");
    }
    inPass_ = false;
    PumpPending.store(false);
}

void CMill::PurgePipes() {
    const uint32_t now = platform::TickCount();
    for (size_t i = Pipes.size(); i-- > 0;) {
        if (i >= Pipes.size()) continue;
        CPipe* pipe = Pipes[i].get();
        // "Deadline passed" is judged modulo 2^32: a plain unsigned comparison would keep a pipe whose
        // deadline falls just before a wrap of the tick for the next 49 days.
        if (pipe->State == kPipeShutDown && static_cast<int32_t>(now - pipe->CloseDeadline) > 0)
            Pipes.erase(Pipes.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void CMill::CheckPipeTimers() {
    for (size_t i = Pipes.size(); i-- > 0;) {
        // Handlers called from here may open sessions; the walk re-reads the list at every step.
        if (i >= Pipes.size()) continue;
        CPipe* pipe = Pipes[i].get();
        const uint8_t state = pipe->State;
        if (state >= kPipeConnecting && state <= kPipeHandshake) {
            pipe->CheckEstablishTime();
        } else if (state == kPipeEstablished) {
            pipe->CheckIdleCart();
        } else if (state == kPipeFinishing) {
            pipe->ShutdownStep();
        }
    }
}

void CMill::ServicePipes() {
    if (Pipes.empty()) return;
    const size_t start = std::uniform_int_distribution<size_t>(0, Pipes.size() - 1)(random_);
    size_t i = start;
    do {
        // Pipes are only appended during a pass, never removed, so the pointer stays valid for the
        // whole visit; the state is read afresh before every step because a step may move it on.
        CPipe* pipe = Pipes[i].get();
        if (pipe->State != kPipeNew) {
            if (pipe->State == kPipeConnecting) pipe->DetectSessionCreated();
            if (pipe->State == kPipeConnecting) pipe->DetectSessionRejected();
            if (pipe->State >= kPipeConnecting && pipe->State <= kPipeEstablished)
                pipe->DetectDataReceivedOrSessionClosed();
            if (pipe->State >= kPipeConnecting && pipe->State <= kPipeEstablished) pipe->PullCarts();
            if (pipe->State >= kPipeConnecting && pipe->State <= kPipeFinishing) pipe->PushCart();
        }
        ++i;
        if (i >= Pipes.size()) i = 0;
    } while (i != start);
}

void CMill::DeliverSack(CPipe* pipe, std::unique_ptr<TSack> sack) {
    try {
        CPipe* live = GetPipe(pipe);
        if (live == nullptr || live->State < kPipeConnecting || live->State > kPipeEstablished) return;
        live->DispatchSack(std::move(sack));
    } catch (...) {
        Log("*EXP*  CMill.DeliverSack");
    }
}

}  // namespace qm
