#pragma once

#include <QIcon>
#include <QList>
#include <QMap>
#include <QQueue>
#include <QStringList>
#include <memory>
#include <ostream>

#include "common/Messages.h"
#include "platform/Platform.h"
#include "platform/Tray.h"
#include "session/Session.h"

namespace tvx::test {

// Records every message box and answers from a script; with no script left it presses the
// first button (OK or Yes).
class ScriptedMessageBox : public MessageBoxService {
public:
    struct Shown {
        QWidget* owner;
        QString text;
        QString title;
        MessageStyle style;
    };
    MessageAnswer Show(QWidget* owner, const QString& text, const QString& title,
                       MessageStyle style) override;
    // The texts of the boxes shown, in order.
    QStringList Texts() const {
        QStringList texts;
        for (const Shown& box : shown)
            texts << box.text;
        return texts;
    }

    QQueue<MessageAnswer> answers;
    QList<Shown> shown;
    // Runs while the box is "open", as a person's window would let events run.
    std::function<void(const Shown&)> whileOpen;
};

class ScriptedDialogs : public DialogService {
public:
    struct Request {
        QString kind;  // "open", "open files", "save", "folder", "color"
        QString title;
        QString proposedName;
        FileFilter filter;
        DialogOptions options;
    };
    QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                     DialogOptions options) override;
    // Takes one answer from paths: the chosen files separated by '\n'.
    QStringList OpenFiles(QWidget* owner, const QString& title, const FileFilter& filter,
                          DialogOptions options) override;
    QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                     const FileFilter& filter, DialogOptions options) override;
    QString BrowseFolder(QWidget* owner, const QString& title) override;
    bool ChooseColor(QWidget* owner, quint32& colorBgr) override;

    QQueue<QString> paths;   // answers of the file and folder dialogs; empty means cancel
    QQueue<quint32> colors;  // answers of the colour dialog; none means cancel
    QList<Request> requests;
    // Runs while a dialog is "open", as a person's dialog would let events run.
    std::function<void(const Request&)> whileOpen;
};

class FakeShell : public ShellService {
public:
    bool Open(const QString& path) override {
        opened << path;
        return opens;
    }
    QString TypeName(const QString& path) override { return typeNames.value(path); }
    QStringList IconNames(const QString&) override { return {}; }
    void SetClipboardText(const QString& text) override { clipboard = text; }
    QString ClipboardText() override { return clipboard; }

    bool opens = true;  // whether a program takes what is opened
    QStringList opened;
    QMap<QString, QString> typeNames;
    QString clipboard;
};

// The settings in memory; failWrites makes every write fail as a full disk would.
class MemorySettingsStore : public SettingsStore {
public:
    explicit MemorySettingsStore(QString folder = QString()) : m_folder(std::move(folder)) {}
    QString Read(const QString& key) override { return values.value(key); }
    bool Write(const QString& key, const QString& value) override;
    QString Folder() const override { return m_folder; }

    QMap<QString, QString> values;
    QStringList writeOrder;
    bool failWrites = false;

private:
    QString m_folder;
};

// A machine whose addresses, name, clock and data folder the test sets.
class FakeSystemInfo : public SystemInfo {
public:
    bool AddressTable(QList<Ipv4Bytes>& out, QString& error) override {
        out = addresses;
        error = tableError;
        return tableError.isEmpty();
    }
    QString ComputerName() override { return computerName; }
    QDateTime Now() override { return now; }
    qint64 UptimeMs() override { return uptimeMs; }
    QString DataFolder() override { return dataFolder; }

    QList<Ipv4Bytes> addresses;
    QString tableError;
    QString computerName = QStringLiteral("TESTPC");
    QDateTime now = QDateTime(QDate(2007, 3, 5), QTime(8, 4, 9));
    qint64 uptimeMs = 1000000;
    QString dataFolder;
};

class FakeScreenService : public ScreenService {
public:
    ScreenMetrics Metrics() override { return metrics; }
    ScreenMetrics metrics;
};

// Records what the program asks of its icon; tests click it by hand.
class FakeTrayIcon : public TrayIcon {
    Q_OBJECT

public:
    bool Add(const QIcon& icon, const QString& tip) override;
    void Modify(const QIcon& icon) override { icons.append(icon); }
    void Remove() override { shown = false; }
    bool IsShown() const override { return shown; }
    void Send(TrayClick click) { emit Clicked(click); }

    bool shown = false;
    QString tip;
    QList<QIcon> icons;
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

namespace tvx {

// Plain words for the platform's values in test failures.
void PrintTo(const MessageStyle& style, std::ostream* out);
void PrintTo(MessageAnswer answer, std::ostream* out);
void PrintTo(TrayClick click, std::ostream* out);

}  // namespace tvx
