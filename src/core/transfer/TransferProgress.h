#pragma once

#include <QString>
#include <QtGlobal>

namespace tvx {

// How far a transfer has come, as the sending window and the receiving page show it: bytes
// moved, the percentage, the width of the bar, the speed of the last second and the time
// left. The owner feeds it the position as bytes move and calls Tick once a second.
class TransferProgress {
public:
    // The sender estimates from the average over all ticks and rounds to whole seconds; the
    // receiver takes the whole bytes per tick and divides without rounding.
    enum class Estimate { RoundedSeconds, WholeBytesPerTick };

    static constexpr int kBarWidth = 278;
    static constexpr int kStallLimit = 20;

    explicit TransferProgress(Estimate estimate = Estimate::RoundedSeconds);

    // A transfer of `total` bytes starts (or resumes) at `position`; the speed counts only the
    // bytes moved from here on.
    void Start(qint64 total, qint64 position);
    void Reset();
    void SetPosition(qint64 position);
    // One speed tick of a second. True once kStallLimit ticks in a row saw no new byte.
    bool Tick();

    qint64 Total() const { return m_total; }
    qint64 Position() const { return m_position; }
    qint64 StartPosition() const { return m_startPosition; }
    int SpeedTicks() const { return m_speedTicks; }
    int StallTicks() const { return m_stallTicks; }
    bool Stalled() const { return m_stallTicks >= kStallLimit; }

    double Fraction() const;
    // "45%": the fraction without decimals.
    QString PercentText() const;
    // The bar's width in pixels out of `fullWidth`, never below 1 so that the bar stays seen.
    int BarWidth(int fullWidth = kBarWidth) const;
    // The bytes moved so far as FormatSize shows them.
    QString BytesText() const;
    // "-" until the first tick, then the bytes of the last second followed by "/S".
    QString SpeedText() const { return m_speedText; }
    // "-" until an estimate exists; afterwards the last estimate stays until a new one.
    QString RemainingText() const { return m_remainingText; }

    static QString PercentText(double fraction);

private:
    Estimate m_estimate;
    qint64 m_total = 0;
    qint64 m_position = 0;
    qint64 m_startPosition = 0;
    qint64 m_lastSample = 0;
    int m_speedTicks = 0;
    int m_stallTicks = 0;
    QString m_speedText;
    QString m_remainingText;
};

}  // namespace tvx
