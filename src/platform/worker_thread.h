// A worker thread that can be asked to end and waited for.
//
// Contract:
// - Start runs body on a new thread once; body should return soon after
//   StopRequested() turns true. Start answers false if the thread could not be
//   made or was already started.
// - RequestStop may be called from any thread; Join from any thread but the worker
//   itself. The destructor asks the thread to end and joins it.
// - std::thread is the system thread on both platforms (mingw-w64 -posix builds
//   have it), so this unit needs no per-platform code.
#pragma once

#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

namespace qm::platform {

class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread() {
        RequestStop();
        Join();
        // Only when the worker destroys its own object is the thread still joinable
        // here; it cannot wait for itself, so it is let go.
        if (thread_.joinable()) thread_.detach();
    }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Start(std::function<void(const WorkerThread&)> body) {
        if (thread_.joinable()) return false;
        stop_.store(false);
        finished_.store(false);
        try {
            thread_ = std::thread([this, body = std::move(body)] {
                body(*this);
                finished_.store(true);
            });
        } catch (const std::system_error&) {
            // Thread creation failure is an ordinary result for our callers.
            return false;
        }
        return true;
    }
    void RequestStop() { stop_.store(true); }
    bool StopRequested() const { return stop_.load(); }
    // True once body has returned.
    bool Finished() const { return finished_.load(); }
    void Join() {
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace qm::platform
