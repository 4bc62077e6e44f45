#pragma once

#include <QString>

class QIcon;

namespace tvx {

// Result codes of opening a file with its program: above 32 is success.
enum ShellResult { ShellNoAssociation = 31, ShellOpened = 42 };

// Desktop shell services: open with the associated program, type names and icons, clipboard.
class ShellService {
public:
    virtual ~ShellService() = default;
    virtual int Open(const QString& path) = 0;
    // Type name told by the file's name (it need not exist); empty when the name says nothing.
    virtual QString TypeName(const QString& path) = 0;
    // Icon of the type the name tells; a null icon when there is none. For the windows only:
    // QIcon is declared, not defined, here, so that the core needs no Qt Gui.
    virtual QIcon Icon(const QString& path, bool small) = 0;
    virtual void SetClipboardText(const QString& text) = 0;
    virtual QString ClipboardText() = 0;
};

class DesktopShellService : public ShellService {
public:
    int Open(const QString& path) override;
    QString TypeName(const QString& path) override;
    QIcon Icon(const QString& path, bool small) override;
    void SetClipboardText(const QString& text) override;
    QString ClipboardText() override;
};

}  // namespace tvx
