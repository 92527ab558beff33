#pragma once

// Messages from the engine to the front end. Ids keep their Windows values; a front end
// (the Qt window, the CLI printer, a test recorder) implements MessageTarget.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace duzez::platform {

struct Message {
    std::uint32_t id = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::string text;  // owned payload, e.g. the copy of a log line
};

class MessageTarget {
  public:
    virtual ~MessageTarget() = default;
    // Queues the message for the target's own thread; returns false when it is not taken.
    virtual bool Post(Message message) = 0;
    // Delivers the message and waits for the answer.
    virtual std::int64_t Send(const Message& message) = 0;
};

// Keeps every message, for tests. Safe to post from several threads.
class MessageRecorder : public MessageTarget {
  public:
    bool Post(Message message) override;
    std::int64_t Send(const Message& message) override;

    std::vector<Message> Messages() const;
    std::vector<Message> MessagesWithId(std::uint32_t id) const;
    // Waits until a message with `id` has arrived; returns it, or nullopt after `timeout`.
    std::optional<Message> WaitFor(std::uint32_t id, std::chrono::milliseconds timeout) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Message> messages_;
};

}  // namespace duzez::platform
