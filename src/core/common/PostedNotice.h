#pragma once

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <functional>

namespace tvx {

// Tells an object on its own thread that a worker thread has news. Post may be called from any
// thread as often as it likes: one call of the handler is queued at a time, and the handler
// reads the worker's state when it runs, so news that came meanwhile is not lost.
class PostedNotice {
public:
    PostedNotice(QObject* owner, std::function<void()> handler)
        : m_owner(owner), m_handler(std::move(handler)) {}

    void Post() {
        if (m_pending.exchange(true))
            return;
        QMetaObject::invokeMethod(
            m_owner,
            [this] {
                m_pending = false;
                m_handler();
            },
            Qt::QueuedConnection);
    }

private:
    QObject* const m_owner;  // owns this notice, so a queued call never outlives it
    const std::function<void()> m_handler;
    std::atomic<bool> m_pending{false};
};

}  // namespace tvx
