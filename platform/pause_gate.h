#pragma once

// Lets a worker loop stop where it stands while a medium is away, and go on when it is
// back. The loop calls Pass() between units of work.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace duzez::platform {

class PauseGate {
  public:
    void Pause();
    void Resume();
    bool IsPaused() const;
    // Returns at once when open; otherwise waits until Resume, or until `running` is
    // cleared (polled, so stopping an analysis never waits for the medium).
    void Pass(const std::atomic<bool>* running = nullptr);

  private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool paused_ = false;
};

}  // namespace duzez::platform
