#pragma once

#include <QIcon>
#include <QString>

namespace tvx {

class ShellService;

// Icon of the file's type (small or large); a null icon when there is none.
QIcon GetFileIcon(ShellService& shell, const QString& path, int sizeFlag);
enum IconSize { IconLarge = 0, IconSmall = 1 };

}  // namespace tvx
