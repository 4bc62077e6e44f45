#pragma once

#include <QHash>
#include <QString>

namespace tvx {

// Wrong verification codes counted per caller address, so that guessing a code costs time.
// The first wrong code from an address opens a one-minute window; the fifth wrong code in it
// shuts the address out until the window ends: its admission requests are refused without a
// look at the code. A right code before that forgets the address. One per running copy,
// shared by the file and chat answerers; the table holds a bounded number of addresses.
class WrongCodeLimit {
public:
    static constexpr int kMaxWrongCodes = 5;
    static constexpr qint64 kWindowMs = 60000;
    static constexpr int kMaxAddresses = 1024;

    // True when the address is shut out now.
    bool IsShutOut(const QString& address, qint64 nowMs) const;
    void CountWrong(const QString& address, qint64 nowMs);
    void CountRight(const QString& address);

    int AddressCount() const { return int(entries_.size()); }

private:
    struct Entry {
        qint64 windowStart = 0;
        int wrongCodes = 0;
    };
    void MakeRoom(qint64 nowMs);

    QHash<QString, Entry> entries_;
};

}  // namespace tvx
