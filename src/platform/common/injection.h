// A process-wide replaceable source for the test hooks of ticks.h and random.h.
//
// Contract: Set may run while other threads call Get; a reader either sees the old
// or the new function, never a torn one, and a function stays alive while a reader
// runs it. The fast path (nothing installed) takes no lock.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace qm::platform::detail {

template <typename Fn>
class Injection {
  public:
    void Set(std::function<Fn> fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = fn ? std::make_shared<std::function<Fn>>(std::move(fn)) : nullptr;
        installed_.store(current_ != nullptr, std::memory_order_release);
    }
    // Null when nothing is installed.
    std::shared_ptr<std::function<Fn>> Get() const {
        if (!installed_.load(std::memory_order_acquire)) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        return current_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<std::function<Fn>> current_;
    std::atomic<bool> installed_{false};
};

}  // namespace qm::platform::detail
