#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tvx {

// A monotonic clock in milliseconds, for a thread that reports at most so often.
inline qint64 SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The shared part of a worker thread that an event loop watches: the thread keeps a Report
// under a lock and, when the event loop should look at it, calls `notify` (which must only
// post). Stop ends the thread's waits, both a poll that includes wake() and a Wait, and joins
// it. Declared as the last member of its owner, it stops the thread before the rest goes.
template <typename Report>
class ReportingWorker {
public:
    explicit ReportingWorker(std::function<void()> notify)
        : m_notify(std::move(notify)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~ReportingWorker() {
        Stop();
        if (m_wake >= 0)
            ::close(m_wake);
    }
    ReportingWorker(const ReportingWorker&) = delete;
    ReportingWorker& operator=(const ReportingWorker&) = delete;

    void Start(std::function<void()> body) { m_thread = std::thread(std::move(body)); }

    void Stop() {
        Change([this] { m_stopping = true; });
        if (m_wake >= 0) {
            const quint64 one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        }
        if (m_thread.joinable())
            m_thread.join();
    }

    Report Snapshot() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_report;
    }

    // ---- For the thread ----

    bool stopping() const { return m_stopping; }
    // An eventfd that becomes readable when the thread is to stop.
    int wake() const { return m_wake; }
    // Waits until the descriptor is ready for `events` (POLLIN, POLLOUT), the thread is to
    // stop, or the time is up; true when the time ran out with neither.
    bool WaitReady(int descriptor, short events, int milliseconds) const {
        pollfd waits[2] = {{descriptor, events, 0}, {m_wake, POLLIN, 0}};
        return ::poll(waits, 2, milliseconds) == 0;
    }

    // Changes the report under the lock; with `tell` the event loop is told to look.
    template <typename Change>
    void Update(Change change, bool tell = true) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change(m_report);
        }
        if (tell)
            m_notify();
    }

    // Waits until `ready` holds (checked under the lock) or Stop is called; false on Stop.
    template <typename Ready>
    bool Wait(Ready ready) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopping || ready(); });
        return !m_stopping;
    }

    // ---- For the event loop ----

    // Changes what a Wait of the thread waits for, under the lock, and wakes it.
    template <typename Step>
    void Change(Step step) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            step();
        }
        m_changed.notify_all();
    }

private:
    const std::function<void()> m_notify;
    const int m_wake;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Report m_report;
    std::thread m_thread;
};

}  // namespace tvx
