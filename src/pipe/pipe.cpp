// CPipe: connection set-up, accept, establishment time-out, teardown and send queueing (see pipe.h).
#include "pipe/pipe.h"

#include <atomic>

#include "mill/mill.h"
#include "platform/platform.h"

namespace qm {
namespace {

// Pipe ids only need to be unique among the live pipes of the process and never 0; a process-wide
// counter gives that for 2^32 - 1 pipes before any value could come back.
uint32_t NextPipeId() {
    static std::atomic<uint32_t> counter{0};
    uint32_t id;
    do {
        id = counter.fetch_add(1) + 1;
    } while (id == 0);
    return id;
}

int SocketBufferFor(int32_t window) {
    // 2 * window + 256, computed wide: a window near INT32_MAX must not overflow.
    const int64_t bytes = 2 * static_cast<int64_t>(window) + 256;
    return bytes > INT32_MAX ? INT32_MAX : (bytes < 0 ? 0 : static_cast<int>(bytes));
}

}  // namespace

CPipe::CPipe(CMill& mill) : PipeId(NextPipeId()), Mill(&mill), LiveTag(kLiveTag) {}

CPipe::~CPipe() {
    // Queued sacks, okay records and partial sacks go with the members; the socket closes with Socket.
    LiveTag = 0;
}

void CPipe::Log(const std::string& text) const {
    if (Mill->LogOn()) Mill->Log(text);
}

void CPipe::CreateSocket() {
    Socket = platform::Socket::CreateTcp();
    if (!Socket.IsValid()) Mill->RecordError(0);
}

void CPipe::SetSocketOptions() {
    if (Mill->LastError != 0) return;
    if (!Socket.SetNonBlocking(true)) Mill->RecordError(0);
    if (Mill->LastError != 0) return;
    if (!Socket.SetNoDelay(true)) Mill->RecordError(0);
}

void CPipe::SetSendWindow(int32_t n) {
    SendWindow = n;
    if (Socket.IsValid() && !Socket.SetSendBufferSize(SocketBufferFor(n))) Mill->RecordError(0);
}

void CPipe::SetRecvWindow(int32_t n) {
    RecvWindow = n;
    if (Socket.IsValid() && !Socket.SetRecvBufferSize(SocketBufferFor(n))) Mill->RecordError(0);
}

void CPipe::Bind(const std::string& address, int32_t port) {
    if (Mill->LastError != 0) return;
    const uint32_t ip = platform::InetAddr(address.empty() ? std::string("0.0.0.0") : address);
    if (!Socket.Bind(ip, port)) Mill->RecordError(0);
}

void CPipe::Listen() {
    if (Mill->LastError != 0) return;
    if (!Socket.Listen(kListenBacklog)) {
        Mill->RecordError(0);
        return;
    }
    State = kPipeListening;
}

void CPipe::Connect(const std::string& host, int32_t port) {
    if (Mill->LastError != 0) return;
    TargetHost = host;
    TargetPort = port;
    uint32_t address = 0;
    if (Mill->SocksServer.empty()) {
        if (!Mill->ResolveHost(host, address)) Mill->RecordError(0);
        if (Mill->LastError == 0 && !Socket.Connect(address, port) &&
            platform::LastSocketError() != platform::kWsaEwouldblock)
            Mill->RecordError(0);
    } else {
        // Only the proxy is reached now; the target host and port travel in the SOCKS request.
        if (!Mill->ResolveHost(platform::WideToAnsi(Mill->SocksServer), address)) Mill->RecordError(21);
        if (Mill->LastError == 0 && !Socket.Connect(address, Mill->SocksPort & 0xFFFF) &&
            platform::LastSocketError() != platform::kWsaEwouldblock)
            Mill->RecordError(21);
    }
    if (Mill->LastError != 0) return;
    StateTick = platform::TickCount();
    State = kPipeConnecting;
}

void CPipe::ReadRemoteAddress() {
    RemoteAddress.clear();
    uint32_t address = 0;
    int port = 0;
    if (State < kPipeHandshake || !Socket.PeerName(address, port)) return;
    RemoteAddress = platform::InetNtoa(address);
    // A peer on this machine is reported by the machine's own address, as a remote peer would see it.
    if (RemoteAddress == Mill->LoopbackAddress) RemoteAddress = Mill->FirstLocalAddress();
}

void CPipe::ReadRemotePort() {
    RemotePort = 0;
    uint32_t address = 0;
    int port = 0;
    if (State < kPipeHandshake || !Socket.PeerName(address, port)) return;
    RemotePort = port;
}

void CPipe::DetectSessionInvoked() {
    // Without a session-request handler nobody could accept the session: leave connections waiting
    // in the backlog until one is installed.
    if (State != kPipeListening || !Mill->OnSessionRequest) return;
    if (!Socket.IsReadable()) return;
    platform::Socket accepted = Socket.Accept();
    if (!accepted.IsValid()) return;
    CPipe* pipe = Mill->AddPipe();
    pipe->Socket = std::move(accepted);
    pipe->Socket.SetNonBlocking(true);
    pipe->Socket.SetNoDelay(true);
    pipe->State = kPipeHandshake;
    pipe->StateTick = platform::TickCount();
    pipe->Inbound = true;
    pipe->ReadRemoteAddress();
    pipe->ReadRemotePort();
    pipe->SetSendWindow(kInitialWindow);
    pipe->SetRecvWindow(kInitialWindow);
    if (Mill->LogOn())
        Log("CPipe.DetectSessionInvoked: [" + std::to_string(pipe->Socket.Native()) + "] " +
            pipe->RemoteAddress + " " + std::to_string(pipe->RemotePort));
}

void CPipe::DetectSessionCreated() {
    // The connected side of the handshake and the SOCKS negotiation start here once they exist; until
    // then a connected pipe stays in state 2 and the establishment limit finishes it.
}

void CPipe::DetectSessionRejected() {
    if (State == kPipeConnecting && Socket.ConnectFailed()) FinishSession(11);
}

void CPipe::DetectDataReceivedOrSessionClosed() {
    if (!Socket.IsValid() || !Socket.IsReadable()) return;
    uint32_t waiting = 0;
    if (!Socket.BytesAvailable(waiting)) {
        Mill->RecordError(0);
        FinishSession(Mill->LastError);
        return;
    }
    if (waiting < 1) {
        FinishSession(0);
        return;
    }
    const int32_t most = RecvWindow > 0 ? RecvWindow : 1;
    TJar buffer;
    buffer.SetLength(most);
    const int got = Socket.Recv(buffer.data(), most);
    if (got < 0) {
        Mill->RecordError(0);
        FinishSession(Mill->LastError);
        return;
    }
    buffer.SetLength(got);
    JarAppend(RecvJar, buffer);
}

bool CPipe::CheckEstablishTime() {
    if (platform::TickCount() - StateTick < kEstablishLimitMs) return false;
    FinishSession(12);
    return true;
}

void CPipe::PullCarts() {
    // The cart parser takes RecvJar apart here.
}

void CPipe::PushCart() {
    // The cart sender drains SendQueue here.
}

void CPipe::CheckIdleCart() {
    // The idle acknowledgement of established pipes runs here.
}

void CPipe::FinishSession(int32_t code) {
    if (State >= kPipeFinishing) return;
    const uint8_t old = State;
    State = kPipeFinishing;
    CloseDeadline = SendQueue.empty() ? 0 : platform::TickCount() + kCloseGraceMs;
    if (Mill->LogOn())
        Log("CPipe.FinishSession: [" + std::to_string(Socket.Native()) + "] " + std::to_string(old) + " " +
            std::to_string(code));
    try {
        if ((old >= kPipeConnecting && old <= kPipeSocks5Auth) || (old == kPipeHandshake && !Inbound)) {
            if (Mill->OnSessionRejected) Mill->OnSessionRejected(this, code);
        } else if (old == kPipeHandshake) {
            if (Mill->OnInvocationRejected) Mill->OnInvocationRejected(this, code);
        } else if (old == kPipeEstablished) {
            if (Mill->OnSessionClosed) Mill->OnSessionClosed(this, code);
        }
    } catch (...) {
        // The teardown goes on whatever the handler did.
        Mill->Log("*EXP*  CPipe.FinishSession");
    }
}

void CPipe::ShutdownStep() {
    // CloseDeadline 0 means "now"; otherwise wait until the grace is over. The difference is taken
    // modulo 2^32 so that a deadline just past a wrap of the tick is not mistaken for a far future one.
    const uint32_t now = platform::TickCount();
    if (CloseDeadline != 0 && static_cast<int32_t>(now - CloseDeadline) < 0) return;
    State = kPipeShutDown;
    CloseDeadline = now + kShutdownDelayMs;
    if (Socket.IsValid()) Socket.ShutdownBoth();
}

TSack* CPipe::PostSack(int32_t code) {
    auto sack = std::make_unique<TSack>();
    sack->Code = code;
    sack->Body.Swap(BuildJar);
    BuildJar.Clear();
    TSack* result = sack.get();
    for (size_t i = SendQueue.size(); i-- > 0;) {
        if (SendQueue[i]->Code != code) continue;
        TSack* tail = SendQueue[i].get();
        while (tail->Next) tail = tail->Next.get();
        tail->Next = std::move(sack);
        return result;
    }
    SendQueue.push_back(std::move(sack));
    return result;
}

void CPipe::LimitToRate(int32_t& allowance) {
    if (PeerRateLimit == 0) return;
    const uint32_t now = platform::TickCount();
    if (now - RateWindowStart > 1000) {
        RateWindowStart = now;
        SentInRateWindow = 0;
    }
    const int64_t cap = (static_cast<int64_t>(PeerRateLimit) - SentInRateWindow) / 2;
    if (allowance >= cap) allowance = cap <= 4 ? 4 : static_cast<int32_t>(cap);
}

void CPipe::DispatchSack(std::unique_ptr<TSack> sack) {
    // User sacks on an established pipe become packets for the core; system sacks and okays are
    // handled by the protocol code that consumes them.
    if (!sack || sack->Code < kUserCodeBase || State != kPipeEstablished) return;
    if (Mill->OnPacketReceived) Mill->OnPacketReceived(this, sack->Code - kUserCodeBase, sack->Body);
}

}  // namespace qm
