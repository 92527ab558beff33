#include "platform/pause_gate.h"

#include <chrono>

namespace duzez::platform {

void PauseGate::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void PauseGate::Resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    opened_.notify_all();
}

bool PauseGate::IsPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

void PauseGate::Pass(const std::atomic<bool>* running) {
    std::unique_lock lock(mutex_);
    while (paused_ && (running == nullptr || running->load())) {
        opened_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

}  // namespace duzez::platform
