#pragma once

#include <QString>
#include <QStringList>

namespace tvx {

// Desktop shell services: open with the associated program, type names and icons, clipboard.
class ShellService {
public:
    virtual ~ShellService() = default;
    // Opens a file or link with the program the desktop associates with it; false when no
    // program took it.
    virtual bool Open(const QString& path) = 0;
    // Type name told by the file's name (it need not exist); empty when the name says nothing.
    virtual QString TypeName(const QString& path) = 0;
    // Theme icon names of the type the name tells, the most specific first; empty when the
    // name says nothing. Names rather than icons, so that the core needs no Qt Gui.
    virtual QStringList IconNames(const QString& path) = 0;
    virtual void SetClipboardText(const QString& text) = 0;
    virtual QString ClipboardText() = 0;
};

}  // namespace tvx
