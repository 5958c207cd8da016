// Owner-thread loop calls for hosts without a window-message loop.
//
// Contract: call on the thread that owns the library objects. Each call dispatches the messages queued
// for the calling thread (pump requests and received packets of every library object of that thread);
// handlers run inside these calls. They may be called from inside a handler (nested dispatch). On
// Windows they run the thread's window-message loop for the same purpose.
#pragma once

#include <cstdint>
#include <functional>

namespace qm {

// Dispatches everything queued now (and whatever is posted meanwhile) and returns.
void PumpMessages();
// Dispatches messages as they arrive for ms milliseconds.
void RunMessagesFor(uint32_t ms);
// Dispatches messages until done() answers true or ms milliseconds have passed; answers done().
bool RunMessagesUntil(const std::function<bool()>& done, uint32_t ms);
// For a host's own poll/epoll loop, CSockLib::MessageFd() gives a descriptor that is readable while
// messages wait for the thread; call PumpMessages when it is.

}  // namespace qm
