#pragma once

#include <QDateTime>
#include <QString>

namespace tvx {

// Someone entering or leaving a chat.
enum class RoomEvent { AutoEnter, Enter, Left, Lost };

// The transcript's grey line for it: "name 进入聊天室...[time]".
QString RoomLine(const QString& name, RoomEvent event, const QDateTime& now);

}  // namespace tvx
