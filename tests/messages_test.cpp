#include "common/Messages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "common/ShellRoutines.h"
#include "support/Fakes.h"

using namespace tvx;
using tvx::test::FakePlatform;

TEST(ShowMessage, KindsGiveTitleButtonsAndIcon) {
    FakePlatform fake;
    struct Case {
        int kind;
        const char16_t* title;
        int style;
    } cases[] = {{KindAsk, u"询问", 0x24},
                 {KindInfo, u"提示", 0x40},
                 {KindWarning, u"警告", 0x30},
                 {KindError, u"错误", 0x10},
                 {KindAskCancel, u"询问", 0x23},
                 {KindProduct, u"Tolvex", 0x40},
                 {0, u"", 0},
                 {9, u"", 0}};
    for (const Case& c : cases) {
        ShowMessage(*fake.messageBox, nullptr, QStringLiteral("t"), c.kind, false);
        EXPECT_EQ(fake.messageBox->shown.last().title, QString::fromUtf16(c.title)) << c.kind;
        EXPECT_EQ(fake.messageBox->shown.last().style, c.style) << c.kind;
    }
    ShowMessage(*fake.messageBox, nullptr, QStringLiteral("t"), KindError, true);
    EXPECT_EQ(fake.messageBox->shown.last().style, 0x1010);
}

TEST(ShowMessage, ReturnsTheAnswerUnchanged) {
    FakePlatform fake;
    fake.messageBox->answers << AnswerNo << AnswerCancel;
    EXPECT_EQ(ShowMessage(*fake.messageBox, nullptr, QStringLiteral("?"), KindAsk, false),
              AnswerNo);
    EXPECT_EQ(ShowMessage(*fake.messageBox, nullptr, QStringLiteral("?"), KindAskCancel, false),
              AnswerCancel);
}

TEST(ShowMessage, ErrorWithDetail) {
    FakePlatform fake;
    ShowErrorWithDetail(*fake.messageBox, nullptr, QStringLiteral("出错了"),
                        QStringLiteral("原因"));
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown[0].text, QStringLiteral("出错了:\r\n\r\n原因"));
    EXPECT_EQ(fake.messageBox->shown[0].style, 0x10);
}

// The desktop message box: presses a button of the open box once it is shown.
static int ShowAndPress(int style, QMessageBox::StandardButton press, QString* seenText,
                        QString* seenTitle) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *seenText = box->text();
        *seenTitle = box->windowTitle();
        ASSERT_NE(box->button(press), nullptr);
        box->button(press)->click();
    });
    QtMessageBoxService service;
    return service.Show(nullptr, QStringLiteral("第一行\r\n第二行"), QStringLiteral("询问"), style);
}

TEST(QtMessageBox, MapsButtonsToAnswers) {
    QString text, title;
    EXPECT_EQ(ShowAndPress(0x24, QMessageBox::No, &text, &title), AnswerNo);
    EXPECT_EQ(text, QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(title, QStringLiteral("询问"));
    EXPECT_EQ(ShowAndPress(0x24, QMessageBox::Yes, &text, &title), AnswerYes);
    EXPECT_EQ(ShowAndPress(0x23, QMessageBox::Cancel, &text, &title), AnswerCancel);
    EXPECT_EQ(ShowAndPress(0x1010, QMessageBox::Ok, &text, &title), AnswerOk);
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
    fake.shell->openResult = ShellNoAssociation;
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, present);
    ASSERT_EQ(fake.messageBox->shown.size(), 2);
    EXPECT_EQ(fake.messageBox->shown[1].text,
              QStringLiteral("无法打开文件:没有与该文件关联的程序。"));
    EXPECT_EQ(fake.messageBox->shown[1].title, QStringLiteral("警告"));

    // Other failure codes are not reported.
    fake.shell->openResult = 2;
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, present);
    fake.shell->openResult = 42;
    OpenFileChecked(*fake.shell, *fake.messageBox, nullptr, present);
    EXPECT_EQ(fake.messageBox->shown.size(), 2);
    EXPECT_EQ(fake.shell->opened.size(), 3);
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
    EXPECT_EQ(requests[0].flags, 0x580C);
    EXPECT_EQ(requests[1].title, QStringLiteral("保存"));
    EXPECT_EQ(requests[1].proposedName, QStringLiteral("a.bin"));
    EXPECT_EQ(requests[1].filter.pattern, QStringLiteral("*.*"));
    EXPECT_EQ(requests[1].flags, 0x080E);
    EXPECT_EQ(requests[2].filter.description, QStringLiteral("RTF 格式 (*.rtf)"));
    EXPECT_EQ(requests[2].filter.pattern, QStringLiteral("*.rtf"));
}
