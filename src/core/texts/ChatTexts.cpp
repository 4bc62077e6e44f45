#include "texts/ChatTexts.h"

#include "common/Format.h"

namespace tvx {

namespace {

QString RoomWord(RoomEvent event) {
    switch (event) {
        case RoomEvent::AutoEnter:
            return QStringLiteral("自动进入");
        case RoomEvent::Enter:
            return QStringLiteral("进入");
        case RoomEvent::Left:
            return QStringLiteral("已经离开");
        case RoomEvent::Lost:
            return QStringLiteral("意外离开");
    }
    return QString();
}

}  // namespace

QString RoomLine(const QString& name, RoomEvent event, const QDateTime& now) {
    return name + QLatin1Char(' ') + RoomWord(event) + QStringLiteral("聊天室...[") +
           ChatTimestamp(now) + QLatin1Char(']');
}

}  // namespace tvx
