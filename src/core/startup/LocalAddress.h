#pragma once

#include <QString>
#include <QStringList>

#include "platform/System.h"

namespace tvx {

// The dotted text of four stored address bytes, first stored byte first.
QString DottedText(const Ipv4Bytes& address);

// Usable: not beginning with "127." and not beginning with "0.".
bool IsUsableAddress(const QString& dotted);

// The usable addresses of a table, in its order.
QStringList UsableAddresses(const QList<Ipv4Bytes>& table);

}  // namespace tvx
