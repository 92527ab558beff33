#include "cli/interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace duzez::cli {

InterruptWatch::InterruptWatch(std::string stopping) : stopping_(std::move(stopping)) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    thread_ = std::thread([this] { Watch(); });
}

InterruptWatch::~InterruptWatch() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    thread_.join();
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void InterruptWatch::OnFirst(std::function<void()> stop) {
    std::lock_guard lock(mutex_);
    stop_ = std::move(stop);
}

void InterruptWatch::OnSecond(std::function<void()> cleanUp) {
    std::lock_guard lock(mutex_);
    cleanUp_ = std::move(cleanUp);
}

int InterruptWatch::Count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void InterruptWatch::Watch() {
    // Wakes up now and then to see whether the watch is over.
    const timespec wait{0, 100'000'000};
    while (true) {
        const int signal = ::sigtimedwait(&signals_, nullptr, &wait);
        std::lock_guard lock(mutex_);
        if (signal < 0) {
            if (ending_)
                return;
            continue;
        }
        if (++count_ == 1) {
            std::fprintf(stderr, "\n%s Press Ctrl-C again to quit at once.\n", stopping_.c_str());
            if (stop_)
                stop_();
            continue;
        }
        if (cleanUp_)
            cleanUp_();
        std::fputs("\nInterrupted.\n", stderr);
        std::fflush(stdout);
        // The conventional status of a program ended by a signal.
        ::_exit(128 + signal);
    }
}

bool SayIfInterrupted(const InterruptWatch& watch, const char* message) {
    if (!watch.Interrupted())
        return false;
    std::fprintf(stderr, "%s\n", message);
    return true;
}

}  // namespace duzez::cli
