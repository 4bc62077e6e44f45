#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/Dialogs.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/Screen.h"
#include "platform/Shell.h"

namespace tvx {

// The platform services of the desktop program: Qt's boxes, dialogs and screen, the desktop's
// shell, the tray (platform/Tray.h), notifications (platform/DBusNotifications.h) and service
// discovery (platform/AvahiDiscovery.h).
std::unique_ptr<Platform> CreateDesktopPlatform();

class QtMessageBoxService : public MessageBoxService {
public:
    MessageAnswer Show(QWidget* owner, const QString& text, const QString& title,
                       MessageStyle style) override;
};

// Qt's own dialogs (not the desktop's), so that they speak the program's language. Each file
// dialog opens in the folder last used with it in this run, the home folder at first.
class QtDialogService : public DialogService {
public:
    QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                     DialogOptions options) override;
    QStringList OpenFiles(QWidget* owner, const QString& title, const FileFilter& filter,
                          DialogOptions options) override;
    QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                     const FileFilter& filter, DialogOptions options) override;
    QString BrowseFolder(QWidget* owner, const QString& title) override;
    bool ChooseColor(QWidget* owner, quint32& colorBgr) override;

private:
    QString m_openFolder;
    QString m_saveFolder;
};

class DesktopShellService : public ShellService {
public:
    bool Open(const QString& path) override;
    QString TypeName(const QString& path) override;
    QStringList IconNames(const QString& path) override;
    void SetClipboardText(const QString& text) override;
    QString ClipboardText() override;
};

// The primary screen of the running application.
class QtScreenService : public ScreenService {
public:
    ScreenMetrics Metrics() override;
};

}  // namespace tvx
