#include "common/FileIcons.h"

#include "platform/Shell.h"

namespace tvx {

QIcon GetFileIcon(ShellService& shell, const QString& path, int sizeFlag) {
    return shell.Icon(path, sizeFlag == IconSmall);
}

}  // namespace tvx
