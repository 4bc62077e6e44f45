#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>

namespace tvx::test {

// Runs events until the condition holds or the time is up; returns the condition.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace tvx::test
