#pragma once

#include <QIcon>
#include <QList>
#include <QMap>
#include <QQueue>
#include <QStringList>
#include <memory>

#include "common/Session.h"
#include "platform/Platform.h"
#include "platform/Tray.h"

namespace tvx::test {

// Records every message box and answers from a script; with no script left it presses the
// first button (OK or Yes).
class ScriptedMessageBox : public MessageBoxService {
public:
    struct Shown {
        QWidget* owner;
        QString text;
        QString title;
        int style;
    };
    int Show(QWidget* owner, const QString& text, const QString& title, int style) override;

    QQueue<int> answers;
    QList<Shown> shown;
    // Runs while the box is "open", as a person's window would let events run.
    std::function<void(const Shown&)> whileOpen;
};

class ScriptedDialogs : public DialogService {
public:
    struct Request {
        QString kind;  // "open", "save", "folder", "color"
        QString title;
        QString proposedName;
        FileFilter filter;
        int flags = 0;
    };
    QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                     int flags) override;
    QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                     const FileFilter& filter, int flags) override;
    QString BrowseFolder(QWidget* owner, const QString& title) override;
    bool ChooseColor(QWidget* owner, quint32& colorBgr) override;

    QQueue<QString> paths;   // answers of the file and folder dialogs; empty means cancel
    QQueue<quint32> colors;  // answers of the colour dialog; none means cancel
    QList<Request> requests;
};

class FakeShell : public ShellService {
public:
    int Open(const QString& path) override {
        opened << path;
        return openResult;
    }
    QString TypeName(const QString& path) override { return typeNames.value(path); }
    QIcon Icon(const QString&, bool) override { return QIcon(); }
    void SetClipboardText(const QString& text) override { clipboard = text; }
    QString ClipboardText() override { return clipboard; }

    int openResult = 42;
    QStringList opened;
    QMap<QString, QString> typeNames;
    QString clipboard;
};

class MemoryAutoStart : public AutoStartList {
public:
    bool Write(const QString& name, const QString& command) override {
        entries[name] = command;
        return true;
    }
    bool Remove(const QString& name) override {
        entries.remove(name);
        return true;
    }
    QString Read(const QString& name) override { return entries.value(name); }
    QMap<QString, QString> entries;
};

// Records the notifications the program raises; Activate() clicks one as the desktop would.
class RecordingNotifications : public NotificationService {
public:
    struct Raised {
        NotifyKind kind;
        QString summary;
        QString body;
    };
    bool Notify(NotifyKind kind, const QString& summary, const QString& body) override {
        raised.append({kind, summary, body});
        return true;
    }
    void Activate(NotifyKind kind) { emit Activated(kind); }
    QList<Raised> raised;
};

// A platform made of stand-ins, with typed access to each.
struct FakePlatform {
    explicit FakePlatform(const QString& settingsFolder = QString());

    Platform platform;
    ScriptedMessageBox* messageBox;
    ScriptedDialogs* dialogs;
    FakeShell* shell;
    MemorySettingsStore* settings;
    MemoryAutoStart* autoStart;
    FakeSystemInfo* system;
    FakeScreenService* screen;
    FakeTrayIcon* tray;
    RecordingNotifications* notifications;
};

}  // namespace tvx::test
