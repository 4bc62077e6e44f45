#include "transfer/TransferProgress.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/Format.h"

namespace tvx {

namespace {

// Sizes and durations beyond 32 bits show as the largest value instead of wrapping around.
qint32 Clamp32(qint64 value) {
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

}  // namespace

TransferProgress::TransferProgress(Estimate estimate) : m_estimate(estimate) {
    Reset();
}

void TransferProgress::Start(qint64 total, qint64 position) {
    Reset();
    m_total = total;
    m_position = m_startPosition = m_lastSample = position;
}

void TransferProgress::Reset() {
    m_total = m_position = m_startPosition = m_lastSample = 0;
    m_speedTicks = m_stallTicks = 0;
    m_speedText = m_remainingText = QStringLiteral("-");
}

void TransferProgress::SetPosition(qint64 position) {
    m_position = position;
}

bool TransferProgress::Tick() {
    const qint64 delta = m_position - m_lastSample;
    m_speedText = FormatSize(Clamp32(delta)) + QStringLiteral("/S");
    m_lastSample = m_position;
    ++m_speedTicks;
    const qint64 left = m_total - m_position;
    if (m_estimate == Estimate::RoundedSeconds) {
        if (m_position > 0 && m_position > m_startPosition) {
            const double perTick = double(m_position - m_startPosition) / m_speedTicks;
            m_remainingText = FormatDuration(Clamp32(qRound64(double(left) / perTick)));
        }
    } else {
        const qint64 average = (m_position - m_startPosition) / m_speedTicks;
        if (average > 0)
            m_remainingText = FormatDuration(Clamp32(left / average));
    }
    m_stallTicks = delta == 0 ? m_stallTicks + 1 : 0;
    return Stalled();
}

double TransferProgress::Fraction() const {
    return m_total > 0 ? double(m_position) / double(m_total) : 0.0;
}

QString TransferProgress::PercentText() const {
    return PercentText(Fraction());
}

int TransferProgress::BarWidth(int fullWidth) const {
    return std::max(1, int(std::lround(Fraction() * fullWidth)));
}

QString TransferProgress::BytesText() const {
    return FormatSize(Clamp32(m_position));
}

QString TransferProgress::PercentText(double fraction) {
    return QString::number(qint64(std::floor(fraction * 100 + 0.5))) + QLatin1Char('%');
}

}  // namespace tvx
