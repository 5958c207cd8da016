// POSIX owner-thread queue: one FIFO per thread shared by every OwnerQueue created
// on it (so posting order holds across queues, as in a Windows thread's message
// queue), with an eventfd that is readable exactly while the FIFO is not empty.
// See owner_queue.h for the contract.
#include "platform/owner_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <iterator>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace qm::platform {
namespace {

struct ThreadQueue;

}  // namespace

struct OwnerQueue::State {
    MessageHandler handler;
    PayloadDeleter deleter;
    std::shared_ptr<ThreadQueue> thread;
    std::thread::id owner;
    bool alive = true;  // owner thread only
};

namespace {

struct Entry {
    // Keeps the target's handler alive while it runs, even if the handler destroys
    // its own OwnerQueue.
    std::shared_ptr<OwnerQueue::State> target;
    uint32_t msg;
    uintptr_t wparam;
    void* payload;
};

struct ThreadQueue {
    std::mutex mutex;
    std::deque<Entry> items;            // guarded by mutex
    std::atomic<bool> nonEmpty{false};  // lets an idle PumpMessages skip the lock
    int wakeFd = -1;

    ThreadQueue() { wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
    ~ThreadQueue() {
        if (wakeFd >= 0) close(wakeFd);
    }

    // Both under mutex: the descriptor's state always follows the FIFO's.
    // The flag goes up before the descriptor wakes anyone: a host's poll loop woken
    // by the write must find the message when it pumps, not spin until it appears.
    void Signal() {
        nonEmpty.store(true, std::memory_order_release);
        uint64_t one = 1;
        while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    void Unsignal() {
        uint64_t value;
        while (read(wakeFd, &value, sizeof value) < 0 && errno == EINTR) {
        }
        nonEmpty.store(false, std::memory_order_release);
    }
};

// Made by the first OwnerQueue of a thread; each OwnerQueue holds a reference too,
// so a queue never outlives the FIFO its entries are in.
thread_local std::shared_ptr<ThreadQueue> t_queue;

// Takes the oldest entry of the calling thread's FIFO; false when it is empty.
bool TakeNext(ThreadQueue& q, Entry& out) {
    if (!q.nonEmpty.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.items.empty()) return false;
    out = std::move(q.items.front());
    q.items.pop_front();
    if (q.items.empty()) q.Unsignal();
    return true;
}

}  // namespace

OwnerQueue::OwnerQueue(MessageHandler handler, PayloadDeleter deleter) : state_(std::make_shared<State>()) {
    if (!t_queue) t_queue = std::make_shared<ThreadQueue>();
    state_->handler = std::move(handler);
    state_->deleter = std::move(deleter);
    state_->thread = t_queue;
    state_->owner = std::this_thread::get_id();
}

OwnerQueue::~OwnerQueue() {
    ThreadQueue& q = *state_->thread;
    std::vector<Entry> discarded;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        state_->alive = false;
        auto keep = std::stable_partition(q.items.begin(), q.items.end(),
                                          [this](const Entry& e) { return e.target != state_; });
        std::move(keep, q.items.end(), std::back_inserter(discarded));
        q.items.erase(keep, q.items.end());
        if (q.items.empty() && q.nonEmpty.load()) q.Unsignal();
    }
    // Outside the lock: a deleter may post to other queues of this thread.
    for (Entry& e : discarded) {
        if (state_->deleter) state_->deleter(e.msg, e.wparam, e.payload);
    }
}

bool OwnerQueue::Valid() const {
    return state_->thread->wakeFd >= 0;
}

bool OwnerQueue::Post(uint32_t msg, uintptr_t wparam, void* payload) {
    if (msg < kFirstMessage || msg > kLastMessage) return false;
    ThreadQueue& q = *state_->thread;
    if (q.wakeFd < 0) return false;
    std::lock_guard<std::mutex> lock(q.mutex);
    if (!state_->alive) return false;
    try {
        q.items.push_back(Entry{state_, msg, wparam, payload});
    } catch (const std::bad_alloc&) {
        return false;  // the caller keeps the payload, as with a full Windows queue
    }
    if (q.items.size() == 1) q.Signal();
    return true;
}

bool OwnerQueue::IsOwnerThread() const {
    return state_->owner == std::this_thread::get_id();
}

int OwnerQueue::PollFd() const {
    return state_->thread->wakeFd;
}

void PumpMessages() {
    ThreadQueue* q = t_queue.get();
    // The big-integer code calls this once per exponent bit: an idle call is one load.
    if (!q || !q->nonEmpty.load(std::memory_order_acquire)) return;
    // Hold the FIFO: a handler may destroy the last OwnerQueue of this thread.
    std::shared_ptr<ThreadQueue> keep = t_queue;
    Entry e;
    while (TakeNext(*q, e)) {
        Entry current = std::move(e);
        if (current.target->alive && current.target->handler) {
            current.target->handler(current.msg, current.wparam, current.payload);
        } else if (current.target->deleter) {
            current.target->deleter(current.msg, current.wparam, current.payload);
        }
    }
}

bool RunMessagesUntil(const std::function<bool()>& done, uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        PumpMessages();
        if (done && done()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return done ? done() : false;
        // Short waits, so a condition that another thread changes is seen soon.
        int wait = static_cast<int>(std::min<long long>(left, 10));
        pollfd p{t_queue ? t_queue->wakeFd : -1, POLLIN, 0};
        poll(&p, 1, wait);
    }
}

void RunMessagesFor(uint32_t ms) {
    RunMessagesUntil(nullptr, ms);
}

}  // namespace qm::platform
