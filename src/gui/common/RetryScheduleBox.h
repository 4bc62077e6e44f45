#pragma once

#include <QTime>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QLabel;

namespace tvx {

class NumberBox;

// The automatic retry and the scheduled start of the send and the chat invitation windows:
// "自动重试(次)" with its count box (2 to 999, 99 at first) and "定时发送在" with the hour and
// minute boxes and the clock that watches them. Ticking a box shows and focuses what it
// switches on; the window decides when the clock may run and what a due time starts.
class RetryScheduleBox : public QWidget {
    Q_OBJECT

public:
    // The send window keeps both on one line; the chat window gives each a line of its own.
    enum class Arrangement { OneRow, TwoRows };

    RetryScheduleBox(Arrangement arrangement, std::function<QTime()> clock,
                     QWidget* parent = nullptr);

    bool autoRetry() const;
    // The number of attempts in all that the count box allows.
    int retryLimit() const;
    bool scheduled() const;
    // True when the chosen hour and minute are those of the clock.
    bool IsDue() const;
    // Clears "定时发送在" as the user would, hiding its boxes.
    void ClearSchedule();

    // The schedule clock ticks once a second while it runs.
    void RunClock(bool run);
    bool clockRunning() const { return m_clock.isActive(); }

signals:
    // "自动重试(次)" ticked or cleared, or a new count.
    void RetryChanged();
    // "定时发送在" ticked or cleared.
    void ScheduleToggled();
    void ClockTicked();

private:
    void ShowRetry(bool on);
    void ShowSchedule(bool on);

    std::function<QTime()> m_now;
    QCheckBox* m_chkAutoTry;
    NumberBox* m_txtAutoTryNum;
    QCheckBox* m_chkUseTime;
    std::array<NumberBox*, 3> m_txtTime{};  // 1 hour, 2 minute
    std::array<QLabel*, 3> m_lblTimeUnit{};
    QTimer m_clock;
};

}  // namespace tvx
