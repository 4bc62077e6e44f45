#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

namespace tvx {

// One IPv4 address as its four bytes in stored order (first byte first).
using Ipv4Bytes = std::array<quint8, 4>;

// What the machine says of itself: its IPv4 address table, its name, the time.
class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The IPv4 addresses of the machine in the platform's order; false with a reason on failure.
    virtual bool AddressTable(QList<Ipv4Bytes>& addresses, QString& error) = 0;
    virtual QString ComputerName() = 0;
    // Local wall-clock time.
    virtual QDateTime Now() = 0;
    // Milliseconds since the machine started, never going back.
    virtual qint64 UptimeMs() = 0;
    // The per-user folder for the program's data files ($XDG_DATA_HOME/Kestrane).
    virtual QString DataFolder() = 0;
};

class HostSystemInfo : public SystemInfo {
public:
    bool AddressTable(QList<Ipv4Bytes>& addresses, QString& error) override;
    QString ComputerName() override;
    QDateTime Now() override;
    qint64 UptimeMs() override;
    QString DataFolder() override;
};

// Text files of the program are kept in the Simplified Chinese code page (GBK).
QByteArray ToAnsi(const QString& text);
QString FromAnsi(const QByteArray& bytes);

}  // namespace tvx
