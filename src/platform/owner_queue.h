// The owner-thread message queue: how other threads (and the owner itself) ask the
// thread that created an engine object to run work, in order.
//
// Contract:
// - An OwnerQueue is created, used for dispatch and destroyed on one thread, its
//   owner. Post may be called from any thread while the object lives.
// - Message numbers are application messages, kFirstMessage..kLastMessage
//   (WM_USER..0x7FFF on Windows); Post answers false for any other number.
// - Messages are dispatched only on the owner thread, one at a time, in posting
//   order across every queue of that thread (one thread, one order, as a Windows
//   thread's message queue behaves).
// - Payload ownership: when Post answers true the queue owns the payload until it
//   is dispatched; the handler then takes it. When Post answers false the caller
//   keeps it. Messages still queued when the OwnerQueue is destroyed are discarded
//   and their payloads go to the deleter given at construction (if any).
// - Re-entrance: a handler may call PumpMessages() (nested dispatch of the messages
//   that follow), post more messages, and destroy any OwnerQueue of its thread,
//   including the one whose message it is handling.
// - Windows: a real hidden message window (RegisterClassA / CreateWindowExA, posted
//   with PostMessageA, other messages to DefWindowProcA); the host's own message loop
//   dispatches it. POSIX: a per-thread queue with a wake-up descriptor; the host
//   drives it with PumpMessages, RunMessagesFor / RunMessagesUntil, or by adding
//   PollFd() to its own poll/epoll loop and calling PumpMessages when it is readable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qm::platform {

inline constexpr uint32_t kFirstMessage = 0x0400;  // WM_USER
inline constexpr uint32_t kLastMessage = 0x7FFF;

// The engine's own messages.
inline constexpr uint32_t kPumpMessage = 1025;  // WM_USER + 1: one pump pass
inline constexpr uint32_t kSackMessage = 1026;  // WM_USER + 2: one received sack

using MessageHandler = std::function<void(uint32_t msg, uintptr_t wparam, void* payload)>;
using PayloadDeleter = std::function<void(uint32_t msg, uintptr_t wparam, void* payload)>;

class OwnerQueue {
  public:
    // On the owner thread. Valid() tells whether the system gave us the window /
    // wake-up descriptor; an invalid queue accepts no posts.
    OwnerQueue(MessageHandler handler, PayloadDeleter deleter);
    ~OwnerQueue();
    OwnerQueue(const OwnerQueue&) = delete;
    OwnerQueue& operator=(const OwnerQueue&) = delete;

    bool Valid() const;
    // Any thread. False when the queue is invalid, the number is out of range, or
    // the system refused the post (a full Windows message queue).
    bool Post(uint32_t msg, uintptr_t wparam, void* payload);
    bool IsOwnerThread() const;

    // Readable while messages wait for the owner thread (POSIX: an eventfd shared
    // by every queue of the thread). -1 on Windows, where the message loop waits.
    int PollFd() const;

    struct State;  // per-platform internals

  private:
    std::shared_ptr<State> state_;
};

// Dispatches everything queued for the calling thread until nothing is left,
// including messages posted meanwhile (Windows: the PeekMessage / TranslateMessage
// / DispatchMessage loop, which also serves every other window of the thread; a
// WM_QUIT is put back for the host's own loop). Cheap when nothing waits; safe to
// call from inside a handler.
void PumpMessages();

// Dispatches messages as they arrive, for ms milliseconds of real time.
void RunMessagesFor(uint32_t ms);

// Dispatches messages as they arrive until done() answers true (checked before the
// first wait and after every dispatch round) or ms milliseconds of real time have
// passed. Answers done()'s last answer. Tests use it for every bounded wait.
bool RunMessagesUntil(const std::function<bool()>& done, uint32_t ms);

}  // namespace qm::platform
