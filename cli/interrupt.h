#pragma once

// Ctrl-C during a long run. The first one asks the work to stop and keep what it has (a
// scan ends and what it found is still recovered; a recovery ends after the current
// file); a second one ends the program at once, after removing any half-written file.

#include <csignal>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace duzez::cli {

class InterruptWatch {
  public:
    // Blocks SIGINT and SIGTERM in this thread and in every thread started after it; a
    // thread of its own takes them. Create it before any other thread starts. `stopping`
    // is what the first interrupt says.
    explicit InterruptWatch(std::string stopping = "Stopping; what was found so far is kept.");
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // What the first interrupt does: stop the current stage.
    void OnFirst(std::function<void()> stop);
    // What is done just before the program ends on the second: remove partial output.
    void OnSecond(std::function<void()> cleanUp);
    // Whether an interrupt came, and how many.
    bool Interrupted() const { return Count() != 0; }
    int Count() const;

    // Sets the first interrupt's handler for a scope and clears both handlers at its end,
    // before what they name is gone. An interrupt that came before it is acted on at once.
    class Handlers {
      public:
        Handlers(InterruptWatch& watch, std::function<void()> stop) : watch_(watch) {
            watch_.OnFirst(stop);
            if (watch_.Interrupted())
                stop();
        }
        ~Handlers() {
            watch_.OnFirst({});
            watch_.OnSecond({});
        }
        Handlers(const Handlers&) = delete;
        Handlers& operator=(const Handlers&) = delete;

      private:
        InterruptWatch& watch_;
    };

  private:
    void Watch();

    std::string stopping_;
    sigset_t signals_{};
    sigset_t previous_{};
    mutable std::mutex mutex_;
    std::function<void()> stop_;
    std::function<void()> cleanUp_;
    int count_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

// After work Ctrl-C may have cut short: whether it did, and if so `message` on stderr.
bool SayIfInterrupted(const InterruptWatch& watch, const char* message);

}  // namespace duzez::cli
