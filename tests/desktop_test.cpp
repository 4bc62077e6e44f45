// How the program meets the desktop: one language in Qt's own dialogs, type names told by a
// file's name, the file dialogs' folders, the help page, the stand-in window's place and the
// automatic-start entry. The test runs with LANG=C (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <functional>

#include "common/Messages.h"
#include "common/ShellRoutines.h"
#include "platform/AutoStart.h"
#include "platform/DesktopPlatform.h"
#include "platform/Dialogs.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/Tray.h"
#include "support/Fakes.h"
#include "support/Render.h"

using namespace tvx;
using tvx::test::FakePlatform;
using tvx::test::RenderToPng;

namespace {

// Runs `step` on the first modal window of type T to appear, from inside the event loop of
// whatever opened it; false when none appeared in time.
template <typename T>
void WhenModalOpens(const std::function<void(T*)>& step, bool* seen) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, step, seen, tries] {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window && ++*tries < 500)
            return;
        poll->stop();
        poll->deleteLater();
        if (window) {
            *seen = true;
            step(window);
        }
    });
    poll->start(10);
}

QStringList ButtonTexts(QWidget* window) {
    QStringList texts;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isVisible() && !button->text().isEmpty())
            texts << button->text();
    return texts;
}

bool HasChinese(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

}  // namespace

TEST(OneLanguage, SaveDialogAndItsOverwriteQuestionSpeakChineseAndRememberTheFolder) {
    ASSERT_EQ(qgetenv("LANG"), QByteArray("C"));
    QTemporaryDir home;
    QTemporaryDir other;
    qputenv("HOME", home.path().toLocal8Bit());
    const QString existing = other.filePath(QStringLiteral("x.zip"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    QtDialogService dialogs;
    QString openedIn;
    QStringList labels;
    QStringList dialogButtons;
    QString question;
    QStringList questionButtons;
    bool dialogSeen = false;
    bool questionSeen = false;
    WhenModalOpens<QFileDialog>(
        [&](QFileDialog* dialog) {
            openedIn = dialog->directory().absolutePath();
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->isVisible())
                    labels << label->text();
            dialogButtons = ButtonTexts(dialog);
            RenderToPng(*dialog, QStringLiteral("desktop-save-dialog"));
            // Choosing an existing file brings Qt's own overwrite question.
            WhenModalOpens<QMessageBox>(
                [&](QMessageBox* box) {
                    question = box->text();
                    questionButtons = ButtonTexts(box);
                    RenderToPng(*box, QStringLiteral("desktop-overwrite-question"));
                    box->button(QMessageBox::Yes)->click();
                },
                &questionSeen);
            dialog->selectFile(existing);
            static_cast<QDialog*>(dialog)->accept();
        },
        &dialogSeen);
    const QString chosen =
        ChooseSaveFile(dialogs, nullptr, QStringLiteral("报告.docx"), /*anyType=*/true);
    ASSERT_TRUE(dialogSeen);
    EXPECT_EQ(openedIn, QDir(home.path()).absolutePath());
    EXPECT_EQ(chosen, existing);
    EXPECT_TRUE(labels.join(QLatin1Char('|')).contains(QStringLiteral("查找范围")))
        << labels.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(labels.join(QLatin1Char('|')).contains(QStringLiteral("文件名称")))
        << labels.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(dialogButtons.contains(QStringLiteral("保存(&S)")))
        << dialogButtons.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(dialogButtons.contains(QStringLiteral("取消")))
        << dialogButtons.join(QLatin1Char('|')).toStdString();
    ASSERT_TRUE(questionSeen);
    EXPECT_TRUE(HasChinese(question)) << question.toStdString();
    EXPECT_TRUE(questionButtons.contains(QStringLiteral("是(&Y)")))
        << questionButtons.join(QLatin1Char('|')).toStdString();

    // The next save opens where the last one went, not where the program started.
    dialogSeen = false;
    WhenModalOpens<QFileDialog>(
        [&](QFileDialog* dialog) {
            openedIn = dialog->directory().absolutePath();
            dialog->reject();
        },
        &dialogSeen);
    EXPECT_EQ(ChooseSaveFile(dialogs, nullptr, QStringLiteral("a.txt"), true), QString());
    ASSERT_TRUE(dialogSeen);
    EXPECT_EQ(openedIn, QDir(other.path()).absolutePath());
}

TEST(OneLanguage, MessageBoxWithYesAndNoIsChinese) {
    QtMessageBoxService boxes;
    FakePlatform fake;
    QStringList buttons;
    bool seen = false;
    WhenModalOpens<QMessageBox>(
        [&](QMessageBox* box) {
            buttons = ButtonTexts(box);
            RenderToPng(*box, QStringLiteral("desktop-message-yes-no"));
            box->button(QMessageBox::No)->click();
        },
        &seen);
    EXPECT_EQ(ShowMessage(boxes, nullptr, QStringLiteral("确实要退出Tolvex么？"), MessageKind::Ask,
                          false),
              MessageAnswer::No);
    ASSERT_TRUE(seen);
    EXPECT_EQ(buttons.size(), 2);
    for (const QString& text : buttons)
        EXPECT_TRUE(HasChinese(text)) << text.toStdString();
}

TEST(OneLanguage, TypeNamesComeFromTheNameInChinese) {
    DesktopShellService shell;
    // Nothing needs to exist: the name tells the type.
    EXPECT_EQ(GetFileTypeName(shell, QStringLiteral("/nowhere/报告.docx")),
              QStringLiteral("Word 2007 文档"));
    EXPECT_EQ(GetFileTypeName(shell, QStringLiteral("a.txt")), QStringLiteral("纯文本文档"));
    EXPECT_EQ(GetFileTypeName(shell, QStringLiteral("x.zip")), QStringLiteral("Zip 归档文件"));
    EXPECT_EQ(GetFileTypeName(shell, QStringLiteral("noextension")), QStringLiteral("未知类型"));
}

TEST(Help, EntryOpensTheShippedPageOrSaysItIsMissing) {
    FakePlatform fake;
    Session session(fake.platform);
    // Run from the build folder: the page beside the program.
    session.executablePath = QStringLiteral(TOLVEX_BINARY);
    const QString page = HelpPagePath(session);
    ASSERT_TRUE(QFile::exists(page)) << page.toStdString();
    QFile html(page);
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    for (const char16_t* topic : {u"8510", u"8511", u"9170", u"自动接收", u"验证码", u"阻止列表",
                                  u"命令行", u"文件发送(&amp;F)"})
        EXPECT_TRUE(text.contains(QString::fromUtf16(topic)))
            << QString::fromUtf16(topic).toStdString();

    QTextBrowser browser;
    browser.resize(760, 900);
    browser.setSource(QUrl::fromLocalFile(page));
    EXPECT_TRUE(RenderToPng(browser, QStringLiteral("desktop-help-page")));

    // Installed: bin/tolvex finds share/tolvex/help/index.html beside bin.
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath(QStringLiteral("bin"));
    session.executablePath = prefix.filePath(QStringLiteral("bin/tolvex"));
    EXPECT_EQ(HelpPagePath(session),
              prefix.filePath(QStringLiteral("share/tolvex/help/index.html")));
    EXPECT_FALSE(QFile::exists(HelpPagePath(session)));
}

TEST(StandIn, SitsBottomRightAndASecondCopyStandsAboveTheFirst) {
    const QRect available(0, 0, 1280, 990);  // a 34-pixel panel below
    const QSize size(200, 90);
    const QPoint first = StandInPosition(available, size, 0);
    const QPoint second = StandInPosition(available, size, 1);
    EXPECT_EQ(first.x() + size.width(), 1272);
    EXPECT_EQ(first.y() + size.height(), 982);
    EXPECT_EQ(second.x(), first.x());
    EXPECT_LE(second.y() + size.height(), first.y());

    // Two running stand-ins (two copies of the program) do not cover each other.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "a notification area is present";
    DesktopTrayIcon one;
    DesktopTrayIcon two;
    ASSERT_TRUE(one.Add(QIcon(), QStringLiteral("Tolvex\rIP:127.0.0.2")));
    ASSERT_TRUE(two.Add(QIcon(), QStringLiteral("Tolvex\rIP:127.0.0.3")));
    const QRect a = one.StandInWindow()->geometry();
    const QRect b = two.StandInWindow()->geometry();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(a));
    EXPECT_TRUE(screen.contains(b));
    EXPECT_GT(a.left(), screen.center().x());
    EXPECT_GT(a.top(), screen.center().y());
    EXPECT_FALSE(a.intersects(b));
    one.Remove();
    two.Remove();
}

TEST(AutoStart, EntryCarriesTheInstalledNameAndIcon) {
    QTemporaryDir folder;
    XdgAutoStartList list(folder.path());
    ASSERT_TRUE(list.Write(QStringLiteral("Kestrane"), QStringLiteral("/usr/bin/tolvex")));
    QSettings autostart(folder.filePath(QStringLiteral("Kestrane.desktop")), QSettings::IniFormat);
    QSettings installed(QStringLiteral(TOLVEX_SOURCE_DIR "/data/org.kestrane.Tolvex.desktop"),
                        QSettings::IniFormat);
    autostart.beginGroup(QStringLiteral("Desktop Entry"));
    installed.beginGroup(QStringLiteral("Desktop Entry"));
    for (const char* key : {"Name", "Icon", "Comment"}) {
        EXPECT_FALSE(installed.value(QLatin1String(key)).toString().isEmpty()) << key;
        EXPECT_EQ(autostart.value(QLatin1String(key)).toString(),
                  installed.value(QLatin1String(key)).toString())
            << key;
    }
    EXPECT_EQ(list.Read(QStringLiteral("Kestrane")), QStringLiteral("/usr/bin/tolvex"));
}
