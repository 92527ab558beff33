#include "ui/frame/queued_messages.h"

#include <QCoreApplication>
#include <QThread>

namespace duzez::ui {

QueuedMessages::QueuedMessages(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    connect(&timer_, &QTimer::timeout, this, &QueuedMessages::Drain);
    timer_.start(kDrainIntervalMs);
}

QueuedMessages::~QueuedMessages() {
    Close();
}

bool QueuedMessages::Post(platform::Message message) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    queue_.push_back(std::move(message));
    return true;
}

std::int64_t QueuedMessages::Send(const platform::Message& message) {
    if (QThread::currentThread() == thread())
        return handler_(message);
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return 0;
    }
    std::int64_t answer = 0;
    QMetaObject::invokeMethod(
        this, [this, &message, &answer] { answer = handler_(message); },
        Qt::BlockingQueuedConnection);
    return answer;
}

void QueuedMessages::Drain() {
    std::vector<platform::Message> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (const platform::Message& message : batch)
        handler_(message);
}

void QueuedMessages::Close() {
    timer_.stop();
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
}

}  // namespace duzez::ui
