#pragma once

#include <QString>

namespace tvx {

// The program as the desktop knows it; the same values stand in the installed entry
// (data/org.kestrane.Tolvex.desktop), the automatic-start entry and the notifications.
inline QString DesktopEntryId() {
    return QStringLiteral("org.kestrane.Tolvex");
}
inline QString DesktopEntryName() {
    return QStringLiteral("Tolvex");
}
inline QString DesktopEntryIcon() {
    return QStringLiteral("tolvex");
}
inline QString DesktopEntryComment() {
    return QStringLiteral("不经服务器，在两台电脑之间发送文件和文字交流");
}

}  // namespace tvx
