#include "common/FileIcons.h"

#include "platform/Shell.h"

namespace tvx {

// Both sizes come from the same theme icon; the window scales it to its picture box.
QIcon GetFileIcon(ShellService& shell, const QString& path, int /*sizeFlag*/) {
    for (const QString& name : shell.IconNames(path)) {
        const QIcon icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            return icon;
    }
    return QIcon();
}

}  // namespace tvx
