#include "platform/messages.h"

#include <algorithm>

namespace duzez::platform {

bool MessageRecorder::Post(Message message) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    arrived_.notify_all();
    return true;
}

std::int64_t MessageRecorder::Send(const Message& message) {
    Post(message);
    return 0;
}

std::vector<Message> MessageRecorder::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<Message> MessageRecorder::MessagesWithId(std::uint32_t id) const {
    std::lock_guard lock(mutex_);
    std::vector<Message> out;
    std::copy_if(messages_.begin(), messages_.end(), std::back_inserter(out),
                 [id](const Message& m) { return m.id == id; });
    return out;
}

std::optional<Message> MessageRecorder::WaitFor(std::uint32_t id,
                                                std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    std::optional<Message> found;
    arrived_.wait_for(lock, timeout, [&] {
        const auto it = std::find_if(messages_.begin(), messages_.end(),
                                     [id](const Message& m) { return m.id == id; });
        if (it != messages_.end())
            found = *it;
        return found.has_value();
    });
    return found;
}

void MessageRecorder::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace duzez::platform
