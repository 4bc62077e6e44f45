#include "platform/System.h"

#include <iconv.h>

#include <QHostAddress>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <ctime>

namespace tvx {

bool HostSystemInfo::AddressTable(QList<Ipv4Bytes>& addresses, QString& error) {
    addresses.clear();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        if (!(interface.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            quint32 value = address.toIPv4Address();
            addresses.append(
                {quint8(value >> 24), quint8(value >> 16), quint8(value >> 8), quint8(value)});
        }
    }
    if (interfaces.isEmpty()) {
        error = QStringLiteral("无法读取网络接口列表");
        return false;
    }
    error.clear();
    return true;
}

QString HostSystemInfo::DataFolder() {
    // An installed program's own folder is not writable: the data live with the user.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Kestrane");
}

QString HostSystemInfo::ComputerName() {
    return QSysInfo::machineHostName();
}

QDateTime HostSystemInfo::Now() {
    return QDateTime::currentDateTime();
}

qint64 HostSystemInfo::UptimeMs() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

namespace {

// Converts between encodings; an input unit that cannot be converted becomes the replacement.
QByteArray Convert(const char* to, const char* from, const QByteArray& input,
                   const QByteArray& replacement, size_t inputUnit) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return QByteArray();
    QByteArray output;
    QByteArray in = input;
    char* inPtr = in.data();
    size_t inLeft = size_t(in.size());
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        output.append(buffer, int(sizeof buffer - outLeft));
        if (result == size_t(-1) && errno != E2BIG) {
            output.append(replacement);
            size_t step = std::min(inputUnit, inLeft);
            inPtr += step;
            inLeft -= step;
        }
    }
    iconv_close(cd);
    return output;
}

}  // namespace

QByteArray ToAnsi(const QString& text) {
    QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return Convert("GBK", "UTF-16LE", utf16, QByteArrayLiteral("?"), 2);
}

QString FromAnsi(const QByteArray& bytes) {
    QByteArray utf16 = Convert("UTF-16LE", "GBK", bytes, QByteArray("?\0", 2), 1);
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

}  // namespace tvx
