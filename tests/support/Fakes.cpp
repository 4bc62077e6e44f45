#include "support/Fakes.h"

namespace tvx::test {

MessageAnswer ScriptedMessageBox::Show(QWidget* owner, const QString& text, const QString& title,
                                       MessageStyle style) {
    shown.append({owner, text, title, style});
    if (whileOpen)
        whileOpen(shown.last());
    if (!answers.isEmpty())
        return answers.dequeue();
    return style.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
}

QString ScriptedDialogs::OpenFile(QWidget*, const QString& title, const FileFilter& filter,
                                  DialogOptions options) {
    requests.append({QStringLiteral("open"), title, QString(), filter, options});
    if (whileOpen)
        whileOpen(requests.last());
    return paths.isEmpty() ? QString() : paths.dequeue();
}

QStringList ScriptedDialogs::OpenFiles(QWidget*, const QString& title, const FileFilter& filter,
                                       DialogOptions options) {
    requests.append({QStringLiteral("open files"), title, QString(), filter, options});
    if (whileOpen)
        whileOpen(requests.last());
    const QString answer = paths.isEmpty() ? QString() : paths.dequeue();
    return answer.isEmpty() ? QStringList() : answer.split(QLatin1Char('\n'));
}

QString ScriptedDialogs::SaveFile(QWidget*, const QString& title, const QString& proposedName,
                                  const FileFilter& filter, DialogOptions options) {
    requests.append({QStringLiteral("save"), title, proposedName, filter, options});
    if (whileOpen)
        whileOpen(requests.last());
    return paths.isEmpty() ? QString() : paths.dequeue();
}

QString ScriptedDialogs::BrowseFolder(QWidget*, const QString& title) {
    requests.append({QStringLiteral("folder"), title, QString(), FileFilter(), {}});
    if (whileOpen)
        whileOpen(requests.last());
    return paths.isEmpty() ? QString() : paths.dequeue();
}

bool ScriptedDialogs::ChooseColor(QWidget*, quint32& colorBgr) {
    requests.append({QStringLiteral("color"), QString(), QString(), FileFilter(), {}});
    if (whileOpen)
        whileOpen(requests.last());
    if (colors.isEmpty())
        return false;
    colorBgr = colors.dequeue();
    return true;
}

bool MemorySettingsStore::Write(const QString& key, const QString& value) {
    if (failWrites)
        return false;
    values.insert(key, value);
    writeOrder.append(key);
    return true;
}

bool FakeTrayIcon::Add(const QIcon& icon, const QString& text) {
    shown = true;
    tip = text;
    icons.append(icon);
    return true;
}

FakePlatform::FakePlatform(const QString& settingsFolder) {
    auto box = std::make_unique<ScriptedMessageBox>();
    auto dialogBox = std::make_unique<ScriptedDialogs>();
    auto fakeShell = std::make_unique<FakeShell>();
    auto store = std::make_unique<MemorySettingsStore>(settingsFolder);
    auto autoRun = std::make_unique<MemoryAutoStart>();
    auto info = std::make_unique<FakeSystemInfo>();
    auto fakeScreen = std::make_unique<FakeScreenService>();
    auto fakeTray = std::make_unique<FakeTrayIcon>();
    auto notes = std::make_unique<RecordingNotifications>();
    messageBox = box.get();
    dialogs = dialogBox.get();
    shell = fakeShell.get();
    settings = store.get();
    autoStart = autoRun.get();
    system = info.get();
    screen = fakeScreen.get();
    tray = fakeTray.get();
    if (!settingsFolder.isEmpty())
        info->dataFolder = settingsFolder + QStringLiteral("/data");
    notifications = notes.get();
    platform.messageBox = std::move(box);
    platform.dialogs = std::move(dialogBox);
    platform.shell = std::move(fakeShell);
    platform.settings = std::move(store);
    platform.autoStart = std::move(autoRun);
    platform.system = std::move(info);
    platform.screen = std::move(fakeScreen);
    platform.tray = std::move(fakeTray);
    platform.notifications = std::move(notes);
}

}  // namespace tvx::test

namespace tvx {

void PrintTo(const MessageStyle& style, std::ostream* out) {
    const char* buttons[] = {"Ok", "YesNo", "YesNoCancel"};
    const char* icons[] = {"None", "Error", "Question", "Warning", "Information"};
    *out << "{" << buttons[int(style.buttons)] << ", " << icons[int(style.icon)]
         << (style.systemModal ? ", system-modal" : "");
    if (!style.actionButton.isEmpty())
        *out << ", button " << style.actionButton.toStdString();
    *out << "}";
}

void PrintTo(MessageAnswer answer, std::ostream* out) {
    const char* names[] = {"Ok", "Cancel", "Yes", "No", "Action"};
    *out << names[int(answer)];
}

void PrintTo(TrayClick click, std::ostream* out) {
    const char* names[] = {"Left", "Double", "Right"};
    *out << names[int(click)];
}

}  // namespace tvx
