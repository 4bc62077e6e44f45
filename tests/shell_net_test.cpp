#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "address/AddressCode.h"
#include "chat/ChatAcceptWindow.h"
#include "platform/DesktopPlatform.h"
#include "platform/Tray.h"
#include "presence/PresenceService.h"
#include "session/Session.h"
#include "shell/AutoReceiveTip.h"
#include "shell/MainWindow.h"
#include "support/Fakes.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "transfer/SendWindow.h"
#include "web/WebWindow.h"

using namespace tvx;
using tvx::test::FakePlatform;

namespace {

struct MainWindowRig {
    explicit MainWindowRig(const QString& address = QStringLiteral("127.0.0.2"))
        : session(fake.platform) {
        session.localAddress = address;
        session.localAddressCode = QStringLiteral("NVSSWFDSEN");
        session.appFolder = folder.path() + QLatin1Char('/');
        session.presencePort = test::PresencePort();
    }
    void Load() { ASSERT_TRUE(window.Start()); }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session;
    MainWindow window{session};
};

}  // namespace

TEST(MainWindow, LoadAddsTheIconWithItsTipAndTheMenu) {
    MainWindowRig rig;
    rig.Load();
    EXPECT_TRUE(rig.fake.tray->shown);
    EXPECT_EQ(rig.fake.tray->tip, QStringLiteral("Tolvex\rIP:127.0.0.2"));
    EXPECT_EQ(rig.window.windowTitle(), QStringLiteral("文件接收"));
    EXPECT_FALSE(rig.window.isVisible());

    const QStringList expected = {
        QStringLiteral("文件发送(&F)"),    QStringLiteral("文字交流(&T)"),
        QStringLiteral("网页传输(&W)..."), QString(),
        QStringLiteral("个人信息(&P)"),    QStringLiteral("联系列表(&L)"),
        QStringLiteral("历史记录(&S)"),    QString(),
        QStringLiteral("选项(&O)..."),     QStringLiteral("帮助(&H)..."),
        QStringLiteral("关于(&A)..."),     QString(),
        QStringLiteral("退出(&X)"),
    };
    const QList<QAction*> actions = rig.window.TrayMenu()->actions();
    ASSERT_EQ(actions.size(), 13);
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(actions[i]->isSeparator(), expected[i].isEmpty()) << i;
        if (!expected[i].isEmpty()) {
            EXPECT_EQ(actions[i]->text(), expected[i]);
        }
    }
}

TEST(MainWindow, ExitWithNothingRunningEndsAtOnce) {
    MainWindowRig rig;
    rig.Load();
    QSignalSpy ended(&rig.window, &MainWindow::ProgramEnded);
    rig.window.MenuEntry(12)->trigger();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(rig.fake.messageBox->shown.isEmpty());
    EXPECT_FALSE(rig.fake.tray->shown);
}

TEST(MainWindow, ExitQuestionListsEveryActivity) {
    const QString p = QStringLiteral("    >> 正在");
    EXPECT_EQ(ActivityList(false, false, false), QString());
    EXPECT_EQ(ActivityList(false, true, true),
              p + QStringLiteral("接收文件...\r\n") + p + QStringLiteral("文字交流...\r\n"));
    EXPECT_EQ(ActivityList(true, true, true), p + QStringLiteral("发送文件...\r\n") + p +
                                                  QStringLiteral("接收文件...\r\n") + p +
                                                  QStringLiteral("文字交流...\r\n"));

    // Each flag alone, and both chat flags, ask the question; No keeps the program running.
    for (int flags = 1; flags < 64; ++flags) {
        MainWindowRig rig;
        rig.Load();
        Activity& a = rig.session.activity;
        a.SetSendWindowSending(flags & 1);
        a.SetMainWindowReceiving(flags & 2);
        a.SetInviteWindowChatting(flags & 4);
        a.SetAcceptWindowChatting(flags & 8);
        a.SetOfferWaiting(flags & 16);
        a.SetInvitationWaiting(flags & 32);
        const QString list =
            ActivityList(a.sendWindowSending(), a.mainWindowReceiving(), a.chatting());
        QSignalSpy ended(&rig.window, &MainWindow::ProgramEnded);
        rig.fake.messageBox->answers << MessageAnswer::No;
        rig.window.ExitProgram();
        if (list.isEmpty()) {
            // Waiting offers and invitations are not running events.
            EXPECT_EQ(ended.count(), 1) << flags;
            EXPECT_TRUE(rig.fake.messageBox->shown.isEmpty()) << flags;
            continue;
        }
        ASSERT_EQ(rig.fake.messageBox->shown.size(), 1) << flags;
        EXPECT_EQ(rig.fake.messageBox->shown[0].text,
                  QStringLiteral("确实要退出Tolvex么？当前正在进行的事件:\r\n\r\n") + list);
        EXPECT_EQ(rig.fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Ask));
        EXPECT_EQ(ended.count(), 0);
        EXPECT_TRUE(rig.fake.tray->shown);
        rig.window.ExitProgram();  // the scripted box now answers Yes
        EXPECT_EQ(ended.count(), 1);
        EXPECT_FALSE(rig.fake.tray->shown);
    }
}

TEST(MainWindow, BlinkAlternatesUntilNothingWaits) {
    MainWindowRig rig;
    rig.Load();
    const int before = rig.fake.tray->icons.size();
    rig.session.activity.SetOfferWaiting(true);
    rig.window.StartBlink();
    EXPECT_TRUE(rig.window.IsBlinking());
    rig.window.BlinkTrayIcon();
    rig.window.BlinkTrayIcon();
    rig.window.BlinkTrayIcon();
    ASSERT_EQ(rig.fake.tray->icons.size(), before + 3);
    const qint64 picture2 = rig.fake.tray->icons[before].cacheKey();
    EXPECT_NE(rig.fake.tray->icons[before].pixmap(16).toImage(),
              rig.fake.tray->icons[before + 1].pixmap(16).toImage());
    EXPECT_EQ(rig.fake.tray->icons[before + 2].pixmap(16).toImage(),
              rig.fake.tray->icons[before].pixmap(16).toImage());
    (void)picture2;

    // A right click opens the menu and keeps the blinking.
    rig.fake.tray->Send(TrayClick::Right);
    EXPECT_TRUE(rig.window.TrayMenu()->isVisible());
    rig.window.TrayMenu()->hide();
    EXPECT_TRUE(rig.session.activity.offerWaiting());
    EXPECT_TRUE(rig.window.IsBlinking());

    // A left click brings the offer forward; the next tick stops the blinking.
    rig.fake.tray->Send(TrayClick::Left);
    EXPECT_FALSE(rig.session.activity.offerWaiting());
    EXPECT_TRUE(rig.window.isVisible());
    rig.window.BlinkTrayIcon();
    EXPECT_FALSE(rig.window.IsBlinking());
    EXPECT_EQ(rig.fake.tray->icons.last().pixmap(16).toImage(),
              rig.fake.tray->icons.first().pixmap(16).toImage());
}

TEST(MainWindow, ClickWithNothingWaitingDoesNothing) {
    MainWindowRig rig;
    rig.Load();
    rig.fake.tray->Send(TrayClick::Double);
    EXPECT_FALSE(rig.window.isVisible());
}

TEST(MainWindow, InvitationClickBringsTheChatWindow) {
    MainWindowRig rig;
    rig.Load();
    QWidget* chat = rig.window.AcceptWindow();
    ASSERT_NE(chat, nullptr);
    EXPECT_FALSE(chat->isVisible());
    rig.session.activity.SetInvitationWaiting(true);
    rig.fake.tray->Send(TrayClick::Double);
    EXPECT_TRUE(chat->isVisible());
    EXPECT_FALSE(rig.window.isVisible());
    EXPECT_FALSE(rig.session.activity.invitationWaiting());
}

TEST(MainWindow, AlarmFiresOnceInItsMinute) {
    MainWindowRig rig;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("wake.txt"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.close();
    auto& values = rig.fake.settings->values;
    values[QStringLiteral("UseTimer")] = QStringLiteral("1");
    values[QStringLiteral("Hour")] = QStringLiteral("8");
    values[QStringLiteral("Minute")] = QStringLiteral("30");
    values[QStringLiteral("PopText")] = QStringLiteral("1");
    values[QStringLiteral("PopTextString")] = QStringLiteral("开会了");
    values[QStringLiteral("TimerOpen")] = QStringLiteral("1");
    values[QStringLiteral("ExeFilePath")] = file;
    rig.Load();
    EXPECT_TRUE(rig.window.IsAlarmArmed());

    auto at = [&](int h, int m, int s) {
        rig.fake.system->now = QDateTime(QDate(2026, 12, 7), QTime(h, m, s));
        rig.window.CheckAlarm();
    };
    // While the box is open further ticks of the same minute must not fire again.
    rig.fake.messageBox->whileOpen = [&](const auto&) {
        rig.fake.messageBox->whileOpen = nullptr;
        at(8, 30, 1);
    };
    at(8, 29, 59);
    EXPECT_TRUE(rig.fake.messageBox->shown.isEmpty());
    at(8, 30, 0);
    at(8, 30, 30);
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(rig.fake.messageBox->shown[0].text, QStringLiteral("开会了"));
    EXPECT_EQ(rig.fake.messageBox->shown[0].title, QStringLiteral("Tolvex"));
    EXPECT_EQ(rig.fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Info, true));
    EXPECT_EQ(rig.fake.shell->opened, QStringList{file});

    at(8, 31, 0);  // re-arms for the next day
    at(8, 30, 0);
    EXPECT_EQ(rig.fake.messageBox->shown.size(), 2);
    EXPECT_EQ(rig.fake.shell->opened.size(), 2);

    // A missing file is not opened and not reported.
    QFile::remove(file);
    at(9, 0, 0);
    at(8, 30, 0);
    EXPECT_EQ(rig.fake.shell->opened.size(), 2);
    EXPECT_EQ(rig.fake.messageBox->shown.size(), 3);
}

TEST(MainWindow, AlarmOffIsNotArmed) {
    MainWindowRig rig;
    rig.Load();
    EXPECT_FALSE(rig.window.IsAlarmArmed());
}

TEST(MainWindow, HelpOpensTheShippedPageOrSaysItIsMissing) {
    MainWindowRig rig;
    rig.Load();
    // A program whose share/tolvex/help is missing.
    rig.session.executablePath = rig.folder.path() + QStringLiteral("/bin/tolvex");
    rig.window.MenuEntry(9)->trigger();
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(rig.fake.messageBox->shown[0].text, QStringLiteral("帮助文件不存在。"));
    EXPECT_EQ(rig.fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Warning));
    EXPECT_TRUE(rig.fake.shell->opened.isEmpty());

    // The program in its build folder, with the page the build put beside it.
    rig.session.executablePath = QStringLiteral(TOLVEX_BINARY);
    rig.window.MenuEntry(9)->trigger();
    EXPECT_EQ(rig.fake.messageBox->shown.size(), 1);
    ASSERT_EQ(rig.fake.shell->opened.size(), 1);
    EXPECT_TRUE(
        rig.fake.shell->opened[0].endsWith(QStringLiteral("/share/tolvex/help/index.html")));
    EXPECT_TRUE(QFile::exists(rig.fake.shell->opened[0]));
}

// Where no browser or file manager is registered, help, the history and the tip's folder
// link say so as a file without an associated program does.
TEST(MainWindow, WhatNoProgramOpensIsReported) {
    MainWindowRig rig;
    rig.Load();
    rig.session.executablePath = QStringLiteral(TOLVEX_BINARY);
    QFile log(rig.session.appFolder + QStringLiteral("LogFile.htm"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.close();
    rig.session.settings.autoSavePath = rig.session.appFolder;
    rig.window.ShowAutoReceiveTip(QStringLiteral("/recv/a.txt"));
    rig.fake.shell->opens = false;

    rig.window.MenuEntry(9)->trigger();
    rig.window.MenuEntry(6)->trigger();
    rig.window.Tip()->OpenSaveFolder();
    ASSERT_EQ(rig.fake.shell->opened.size(), 3);
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 3);
    for (const auto& shown : rig.fake.messageBox->shown) {
        EXPECT_EQ(shown.text, QStringLiteral("无法打开文件:没有与该文件关联的程序。"));
        EXPECT_EQ(shown.style, MessageStyleOf(MessageKind::Warning));
    }
}

TEST(MainWindow, CloseBoxOnlyHides) {
    MainWindowRig rig;
    rig.Load();
    rig.window.show();
    rig.window.close();
    EXPECT_FALSE(rig.window.isVisible());
}

TEST(AutoReceiveTip, CountsReceiptsAndResetsWhenClosed) {
    MainWindowRig rig;
    rig.Load();
    rig.fake.screen->metrics.width = 1024;
    rig.fake.screen->metrics.height = 768;
    rig.fake.screen->metrics.fullScreenHeight = 700;
    rig.fake.screen->metrics.captionHeight = 20;
    rig.fake.system->now = QDateTime(QDate(2007, 3, 5), QTime(8, 4, 9));

    rig.window.ShowAutoReceiveTip(QStringLiteral("/recv/a.txt"));
    rig.window.ShowAutoReceiveTip(QStringLiteral("/recv/b.txt"));
    AutoReceiveTip* tip = rig.window.Tip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->Text(), QStringLiteral("已自动接收 2 次文件\r\n\r\n最后文件:b.txt\r\n\r\n"
                                          "最后时间:3月5日 8:04:09"));
    // It starts below the screen at the right edge and rises to the task bar.
    EXPECT_EQ(tip->pos(), QPoint(1024 - tip->width(), 768));
    for (int i = 0; i < 1000; ++i)
        tip->SlideUp();
    EXPECT_EQ(tip->y(), 700 - tip->height() + 20);

    tip->CloseTip();
    EXPECT_EQ(rig.session.autoReceivedCount, 0);
    EXPECT_FALSE(tip->isVisible());
    rig.window.ShowAutoReceiveTip(QStringLiteral("/recv/c.txt"));
    EXPECT_TRUE(rig.window.Tip()->Text().startsWith(QStringLiteral("已自动接收 1 次文件")));
    EXPECT_EQ(rig.window.Tip()->y(), 768);

    // The link opens the receiving folder, then closes as the close picture does.
    rig.session.settings.autoSavePath = QStringLiteral("/recv/");
    rig.window.Tip()->OpenSaveFolder();
    EXPECT_EQ(rig.fake.shell->opened, QStringList{QStringLiteral("/recv/")});
    EXPECT_EQ(rig.session.autoReceivedCount, 0);
}

// Where the desktop has no tray, the stand-in window takes the bottom right corner: the tip
// rises only to just above it, on the real screen of the test's display.
TEST(AutoReceiveTip, RestsAboveTheStandInWindow) {
    FakePlatform fake;
    fake.platform.tray = std::make_unique<DesktopTrayIcon>();
    fake.platform.screen = std::make_unique<QtScreenService>();
    Session session(fake.platform);
    auto& tray = static_cast<DesktopTrayIcon&>(session.tray());
    ASSERT_TRUE(tray.Add(QIcon(), QStringLiteral("Tolvex\rIP:127.0.0.2")));
    QWidget* standIn = tray.StandInWindow();
    ASSERT_NE(standIn, nullptr);

    AutoReceiveTip tip(session);
    tip.Show(QStringLiteral("/recv/a.txt"));
    for (int step = 0; step < 2000; ++step)
        tip.SlideUp();
    const QRect below = tray.StandInFrame();
    EXPECT_EQ(below, standIn->frameGeometry());
    EXPECT_FALSE(tip.frameGeometry().intersects(below));
    EXPECT_EQ(tip.frameGeometry().bottom() + 1 + 8, below.top());
    EXPECT_TRUE(
        test::RenderScreenToPng({standIn, &tip}, QStringLiteral("auto-receive-tip-stand-in")));
    tray.Remove();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MainWindow, LoadReadsTheBlockListAndHistoryOpensTheLog) {
    MainWindowRig rig;
    QFile block(rig.session.appFolder + QStringLiteral("BlockAdrs.dat"));
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    block.write("192.168.001.002\r\nNVSSWFDSEN\r\n");
    block.close();
    rig.Load();
    EXPECT_EQ(rig.session.blockList.size(), 2);

    rig.window.MenuEntry(6)->trigger();
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(rig.fake.messageBox->shown[0].text, QStringLiteral("暂时没有历史记录。"));
    QFile log(rig.session.appFolder + QStringLiteral("LogFile.htm"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.close();
    rig.window.MenuEntry(6)->trigger();
    EXPECT_EQ(rig.fake.shell->opened, QStringList{log.fileName()});
}

TEST(TrayStandIn, ClicksAndClosingActAsTheIcon) {
    DesktopTrayIcon tray;
    ASSERT_TRUE(tray.Add(QIcon(), QStringLiteral("Tolvex\rIP:127.0.0.2")));
    QWidget* standIn = tray.StandInWindow();
    ASSERT_NE(standIn, nullptr);
    EXPECT_TRUE(standIn->isVisible());
    EXPECT_EQ(standIn->findChild<QLabel*>(QStringLiteral("lblTip"))->text(),
              QStringLiteral("Tolvex\nIP:127.0.0.2"));

    QSignalSpy clicks(&tray, &TrayIcon::Clicked);
    QSignalSpy closing(&tray, &TrayIcon::CloseRequested);
    QTest::mouseClick(standIn, Qt::LeftButton);
    QTest::mouseClick(standIn, Qt::RightButton);
    standIn->findChild<QPushButton*>(QStringLiteral("cmdMenu"))->click();
    QTest::mouseDClick(standIn, Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 4);
    EXPECT_EQ(clicks[0][0].value<TrayClick>(), TrayClick::Left);
    EXPECT_EQ(clicks[1][0].value<TrayClick>(), TrayClick::Right);
    EXPECT_EQ(clicks[2][0].value<TrayClick>(), TrayClick::Right);
    EXPECT_EQ(clicks[3][0].value<TrayClick>(), TrayClick::Double);

    // Closing asks the program to end; removing the icon from there is safe.
    QObject::connect(&tray, &TrayIcon::CloseRequested, &tray, &TrayIcon::Remove);
    standIn->close();
    EXPECT_EQ(closing.count(), 1);
    EXPECT_FALSE(tray.IsShown());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MainWindow, SendEntryOpensTheOneSendWindow) {
    MainWindowRig rig;
    rig.Load();
    EXPECT_TRUE(rig.window.MenuEntry(1)->isEnabled());
    rig.window.MenuEntry(1)->trigger();
    SendWindow* send = rig.window.FileSendWindow();
    ASSERT_NE(send, nullptr);
    EXPECT_TRUE(send->isVisible());
    send->close();
    EXPECT_FALSE(send->isVisible());
    rig.window.MenuEntry(1)->trigger();
    EXPECT_EQ(rig.window.FileSendWindow(), send);
    EXPECT_TRUE(send->isVisible());
}

TEST(MainWindow, WebEntryOpensOnePageWhoseNoticeBringsItForwardAndExitEndsIt) {
    MainWindowRig rig;
    rig.Load();
    ASSERT_TRUE(QDir(rig.folder.path()).mkdir(QStringLiteral("in")));
    rig.session.settings.autoRecvFile = true;
    rig.session.settings.autoSavePath = rig.folder.path() + QStringLiteral("/in/");
    EXPECT_EQ(rig.window.MenuEntry(13)->text(), QStringLiteral("网页传输(&W)..."));
    EXPECT_EQ(rig.window.PageWindow(), nullptr);

    rig.window.MenuEntry(13)->trigger();
    QPointer<WebWindow> page = rig.window.PageWindow();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(page->Server().Url(), QStringLiteral("http://127.0.0.2:8530/"));
    const QString code = page->Server().Code();
    page->hide();
    rig.window.MenuEntry(13)->trigger();
    EXPECT_EQ(rig.window.PageWindow(), page);
    EXPECT_EQ(page->Server().Code(), code);
    EXPECT_TRUE(page->isVisible());

    page->hide();
    rig.fake.notifications->Activate(NotifyKind::WebArrived);
    EXPECT_TRUE(page->isVisible());

    // Exit asks first while the page serves; Yes ends it with the program.
    rig.fake.messageBox->answers << MessageAnswer::No;
    rig.window.MenuEntry(12)->trigger();
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_TRUE(
        rig.fake.messageBox->shown[0].text.endsWith(QStringLiteral("    >> 正在网页传输...\r\n")));
    EXPECT_EQ(rig.window.PageWindow(), page);
    rig.window.MenuEntry(12)->trigger();
    EXPECT_EQ(rig.window.PageWindow(), nullptr);
    EXPECT_TRUE(test::WaitUntil([&] { return page.isNull(); }));
}

TEST(MainWindow, RunningCopiesFindEachOtherByTheirCardsAndExitSaysGoodbye) {
    const QStringList loopbackOnly = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"),
                                      QStringLiteral("127.0.0.4")};
    MainWindowRig first(loopbackOnly[0]), second(loopbackOnly[1]), hidden(loopbackOnly[2]);
    for (MainWindowRig* rig : {&first, &second, &hidden}) {
        rig->session.presenceDestinations = loopbackOnly;
        rig->session.localAddressCode = EncodeAddressCode(rig->session.localAddress);
        rig->session.personalInfo.nickName = QStringLiteral("卡片") + rig->session.localAddress;
    }
    hidden.fake.settings->values[QStringLiteral("Discoverable")] = QStringLiteral("0");
    for (MainWindowRig* rig : {&first, &second, &hidden}) {
        rig->Load();
        ASSERT_TRUE(rig->window.Presence()->IsRunning());
        ASSERT_EQ(rig->session.presence, rig->window.Presence());
        for (const QString& destination : rig->window.Presence()->config().destinations)
            ASSERT_TRUE(IsLoopbackAddress(destination));
        ASSERT_FALSE(rig->window.Presence()->config().hearBroadcasts);
    }
    PresenceService& seen = *first.window.Presence();
    ASSERT_TRUE(test::WaitUntil([&] { return seen.PeerCount() == 1; }, 1000));
    EXPECT_EQ(seen.Peers().first().nickName, QStringLiteral("卡片127.0.0.3"));
    EXPECT_EQ(seen.Peers().first().addressCode, second.session.localAddressCode);
    EXPECT_EQ(seen.Peers().first().ports.fileControl, 8510);
    ASSERT_TRUE(test::WaitUntil([&] { return hidden.window.Presence()->PeerCount() == 2; }, 1000));

    second.window.MenuEntry(12)->trigger();
    ASSERT_TRUE(test::WaitUntil([&] { return seen.PeerCount() == 0; }, 500));
    EXPECT_EQ(hidden.window.Presence()->PeerCount(), 1);
}
