#include "common/RetryScheduleBox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "common/Controls.h"

namespace tvx {

RetryScheduleBox::RetryScheduleBox(Arrangement arrangement, std::function<QTime()> clock,
                                   QWidget* parent)
    : QWidget(parent), m_now(std::move(clock)) {
    m_chkAutoTry = new QCheckBox(QStringLiteral("自动重试(次)"), this);
    m_chkAutoTry->setObjectName(QStringLiteral("chkAutoTry"));
    m_txtAutoTryNum = new NumberBox(this, QStringLiteral("txtAutoTryNum"), 2, 999);
    m_txtAutoTryNum->setValue(99);
    connect(m_chkAutoTry, &QCheckBox::toggled, this, &RetryScheduleBox::ShowRetry);
    connect(m_txtAutoTryNum, &QSpinBox::valueChanged, this, &RetryScheduleBox::RetryChanged);

    m_chkUseTime = new QCheckBox(QStringLiteral("定时发送在"), this);
    m_chkUseTime->setObjectName(QStringLiteral("chkUseTime"));
    connect(m_chkUseTime, &QCheckBox::toggled, this, &RetryScheduleBox::ShowSchedule);
    const char16_t* units[] = {u"", u"时", u"分"};
    for (int index : {1, 2}) {
        m_txtTime[index] =
            new NumberBox(this, QStringLiteral("txtTime%1").arg(index), 0, index == 1 ? 23 : 59);
        m_lblTimeUnit[index] = new QLabel(QString::fromUtf16(units[index]), this);
        m_lblTimeUnit[index]->setObjectName(QStringLiteral("lblTimeUnit%1").arg(index));
    }

    auto* retry = new QHBoxLayout;
    retry->setSpacing(2);
    retry->addWidget(m_chkAutoTry);
    retry->addWidget(m_txtAutoTryNum);
    auto* schedule = arrangement == Arrangement::OneRow ? retry : new QHBoxLayout;
    if (arrangement == Arrangement::OneRow) {
        retry->addSpacing(16);
    } else {
        retry->addStretch();
        schedule->setSpacing(2);
    }
    schedule->addWidget(m_chkUseTime);
    for (int index : {1, 2}) {
        schedule->addWidget(m_txtTime[index]);
        schedule->addWidget(m_lblTimeUnit[index]);
    }
    schedule->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(retry);
    if (schedule != retry)
        layout->addLayout(schedule);

    if (arrangement == Arrangement::OneRow) {
        // The count box keeps its room while hidden, so ticking the box moves nothing beside it.
        QSizePolicy policy = m_txtAutoTryNum->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        m_txtAutoTryNum->setSizePolicy(policy);
    }
    m_txtAutoTryNum->setVisible(false);
    for (int index : {1, 2}) {
        m_txtTime[index]->setVisible(false);
        m_lblTimeUnit[index]->setVisible(false);
    }

    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &RetryScheduleBox::ClockTicked);
}

bool RetryScheduleBox::autoRetry() const {
    return m_chkAutoTry->isChecked();
}

int RetryScheduleBox::retryLimit() const {
    return m_txtAutoTryNum->value();
}

bool RetryScheduleBox::scheduled() const {
    return m_chkUseTime->isChecked();
}

bool RetryScheduleBox::IsDue() const {
    const QTime now = m_now();
    return m_txtTime[1]->value() == now.hour() && m_txtTime[2]->value() == now.minute();
}

void RetryScheduleBox::ClearSchedule() {
    m_chkUseTime->setChecked(false);
}

void RetryScheduleBox::RunClock(bool run) {
    if (run && !m_clock.isActive()) {
        m_clock.start();
    } else if (!run) {
        m_clock.stop();
    }
}

void RetryScheduleBox::ShowRetry(bool on) {
    m_txtAutoTryNum->setVisible(on);
    if (on)
        m_txtAutoTryNum->setFocus();
    emit RetryChanged();
}

void RetryScheduleBox::ShowSchedule(bool on) {
    if (on) {
        // A minute before now; at minute 0 the minute box keeps its value.
        const QTime now = m_now();
        m_txtTime[1]->SetIfInRange(now.hour());
        m_txtTime[2]->SetIfInRange(now.minute() - 1);
    }
    for (int index : {1, 2}) {
        m_txtTime[index]->setVisible(on);
        m_lblTimeUnit[index]->setVisible(on);
    }
    if (on)
        m_txtTime[1]->setFocus();
    emit ScheduleToggled();
}

}  // namespace tvx
