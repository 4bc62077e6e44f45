#include "common/Messages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "common/ShellRoutines.h"
#include "platform/DesktopPlatform.h"
#include "support/Fakes.h"

using namespace tvx;
using tvx::test::FakePlatform;

TEST(ShowMessage, KindsGiveTitleButtonsAndIcon) {
    FakePlatform fake;
    using B = MessageButtons;
    using I = MessageIcon;
    struct Case {
        MessageKind kind;
        const char16_t* title;
        MessageButtons buttons;
        MessageIcon icon;
    } cases[] = {{MessageKind::Ask, u"询问", B::YesNo, I::Question},
                 {MessageKind::Info, u"提示", B::Ok, I::Information},
                 {MessageKind::Warning, u"警告", B::Ok, I::Warning},
                 {MessageKind::Error, u"错误", B::Ok, I::Error},
                 {MessageKind::AskCancel, u"询问", B::YesNoCancel, I::Question},
                 {MessageKind::Product, u"Tolvex", B::Ok, I::Information},
                 {MessageKind::None, u"", B::Ok, I::None}};
    for (const Case& c : cases) {
        ShowMessage(*fake.messageBox, nullptr, QStringLiteral("t"), c.kind, false);
        EXPECT_EQ(fake.messageBox->shown.last().title, QString::fromUtf16(c.title)) << int(c.kind);
        EXPECT_EQ(fake.messageBox->shown.last().style, (MessageStyle{c.buttons, c.icon, false}))
            << int(c.kind);
    }
    ShowMessage(*fake.messageBox, nullptr, QStringLiteral("t"), MessageKind::Error, true);
    EXPECT_EQ(fake.messageBox->shown.last().style, (MessageStyle{B::Ok, I::Error, true}));
}

TEST(ShowMessage, ReturnsTheAnswerUnchanged) {
    FakePlatform fake;
    fake.messageBox->answers << MessageAnswer::No << MessageAnswer::Cancel;
    EXPECT_EQ(ShowMessage(*fake.messageBox, nullptr, QStringLiteral("?"), MessageKind::Ask, false),
              MessageAnswer::No);
    EXPECT_EQ(
        ShowMessage(*fake.messageBox, nullptr, QStringLiteral("?"), MessageKind::AskCancel, false),
        MessageAnswer::Cancel);
}

TEST(ShowMessage, ErrorWithDetail) {
    FakePlatform fake;
    ShowErrorWithDetail(*fake.messageBox, nullptr, QStringLiteral("出错了"),
                        QStringLiteral("原因"));
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown[0].text, QStringLiteral("出错了:\r\n\r\n原因"));
    EXPECT_EQ(fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Error));
}

// The desktop message box: presses a button of the open box once it is shown.
static MessageAnswer ShowAndPress(MessageKind kind, QMessageBox::StandardButton press,
                                  QString* seenText, QString* seenTitle, bool systemModal = false) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *seenText = box->text();
        *seenTitle = box->windowTitle();
        ASSERT_NE(box->button(press), nullptr);
        box->button(press)->click();
    });
    QtMessageBoxService service;
    return service.Show(nullptr, QStringLiteral("第一行\r\n第二行"), QStringLiteral("询问"),
                        MessageStyleOf(kind, systemModal));
}

TEST(QtMessageBox, MapsButtonsToAnswers) {
    QString text, title;
    EXPECT_EQ(ShowAndPress(MessageKind::Ask, QMessageBox::No, &text, &title), MessageAnswer::No);
    EXPECT_EQ(text, QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(title, QStringLiteral("询问"));
    EXPECT_EQ(ShowAndPress(MessageKind::Ask, QMessageBox::Yes, &text, &title), MessageAnswer::Yes);
    EXPECT_EQ(ShowAndPress(MessageKind::AskCancel, QMessageBox::Cancel, &text, &title),
              MessageAnswer::Cancel);
    EXPECT_EQ(ShowAndPress(MessageKind::Error, QMessageBox::Ok, &text, &title, true),
              MessageAnswer::Ok);
}

TEST(ShellRoutines, OpenFileCheckedTellsWhyItCannotOpen) {
    FakePlatform fake;
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.txt"));
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, missing);
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown[0].text, QStringLiteral("打开文件失败:文件不存在。"));
    EXPECT_EQ(fake.messageBox->shown[0].title, QStringLiteral("错误"));
    EXPECT_TRUE(fake.shell->opened.isEmpty());

    const QString present = dir.filePath(QStringLiteral("a.xyz"));
    QFile file(present);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    fake.shell->opens = false;
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, present);
    ASSERT_EQ(fake.messageBox->shown.size(), 2);
    EXPECT_EQ(fake.messageBox->shown[1].text,
              QStringLiteral("无法打开文件:没有与该文件关联的程序。"));
    EXPECT_EQ(fake.messageBox->shown[1].title, QStringLiteral("警告"));

    fake.shell->opens = true;
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, present);
    EXPECT_EQ(fake.messageBox->shown.size(), 2);
    EXPECT_EQ(fake.shell->opened.size(), 2);
}

TEST(ShellRoutines, TypeNameFallsBackToUnknown) {
    FakePlatform fake;
    fake.shell->typeNames[QStringLiteral("/x/a.txt")] = QString::fromUtf16(u"纯文本\0junk", 8);
    EXPECT_EQ(GetFileTypeName(*fake.shell, QStringLiteral("/x/a.txt")), QStringLiteral("纯文本"));
    EXPECT_EQ(GetFileTypeName(*fake.shell, QStringLiteral("/x/b.txt")), QStringLiteral("未知类型"));

    // The desktop adapter goes by the name alone, whether the file exists or not.
    DesktopShellService desktop;
    QTemporaryDir dir;
    EXPECT_NE(GetFileTypeName(desktop, dir.filePath(QStringLiteral("none.txt"))),
              QStringLiteral("未知类型"));
    const QString bare = dir.filePath(QStringLiteral("real"));
    QFile file(bare);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello\n");
    file.close();
    EXPECT_EQ(GetFileTypeName(desktop, bare), QStringLiteral("未知类型"));
}

TEST(ShellRoutines, FileDialogsCarryTitlesFiltersAndFlags) {
    FakePlatform fake;
    fake.dialogs->paths << QString::fromUtf16(u"/home/u/a.bin\0\0", 15) << QString()
                        << QStringLiteral("/tmp/Chat.rtf");
    EXPECT_EQ(ChooseOpenFile(*fake.dialogs, nullptr), QStringLiteral("/home/u/a.bin"));
    EXPECT_EQ(ChooseSaveFile(*fake.dialogs, nullptr, QStringLiteral("a.bin"), true), QString());
    EXPECT_EQ(ChooseSaveFile(*fake.dialogs, nullptr, QStringLiteral("Chat.rtf"), false),
              QStringLiteral("/tmp/Chat.rtf"));

    const auto& requests = fake.dialogs->requests;
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].title, QStringLiteral("选择文件"));
    EXPECT_EQ(requests[0].filter.description, QStringLiteral("所有文件 (*.*)"));
    EXPECT_EQ(requests[0].options, DialogOption::HideReadOnly | DialogOption::KeepCurrentFolder |
                                       DialogOption::PathMustExist | DialogOption::FileMustExist |
                                       DialogOption::ShareAware);
    EXPECT_EQ(requests[1].title, QStringLiteral("保存"));
    EXPECT_EQ(requests[1].proposedName, QStringLiteral("a.bin"));
    EXPECT_EQ(requests[1].filter.pattern, QStringLiteral("*.*"));
    EXPECT_EQ(requests[1].options, DialogOption::OverwritePrompt | DialogOption::HideReadOnly |
                                       DialogOption::KeepCurrentFolder |
                                       DialogOption::PathMustExist);
    EXPECT_EQ(requests[2].filter.description, QStringLiteral("RTF 格式 (*.rtf)"));
    EXPECT_EQ(requests[2].filter.pattern, QStringLiteral("*.rtf"));
}
