#include <gtest/gtest.h>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWindow>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "platform/System.h"
#include "presence/PresenceService.h"
#include "records/AddressBookWindow.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/FoundPeers.h"
#include "session/Session.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Render.h"

namespace tvx::test {
namespace {

class AddressBook : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        session.appFolder = folder.path() + QLatin1Char('/');
        session.display.screen.width = 1024;
        session.display.screen.height = 768;
        session.display.screen.fullScreenHeight = 708;
        session.display.screen.captionHeight = 20;
    }
    void TearDown() override { delete window.data(); }

    AddressBookWindow& Open() {
        delete window.data();
        window = new AddressBookWindow(session);
        window->LoadEntries();
        return *window;
    }
    QString BookPath() const { return session.appFolder + kAddressBookFileName; }
    void Type(const QString& name, const QString& address) {
        Find<QLineEdit>(window, "txtInputAdress1")->setText(name);
        Find<QLineEdit>(window, "txtInputAdress2")->setText(address);
    }
    QStringList Entries() { return ItemTexts(Find<QListWidget>(window, "lstAdrs")); }
    QString LastMessage() { return fake.messageBox->shown.last().text; }
    MessageStyle LastStyle() { return fake.messageBox->shown.last().style; }
    void Select(std::initializer_list<int> rows) {
        Find<QListWidget>(window, "lstAdrs")->clearSelection();
        for (int row : rows)
            Find<QListWidget>(window, "lstAdrs")->item(row)->setSelected(true);
    }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session{fake.platform};
    QPointer<AddressBookWindow> window;
};

TEST_F(AddressBook, AddingAndEditingRefuseWhatCannotBeAnEntry) {
    ASSERT_TRUE(WriteFile(BookPath(), ToAnsi(QStringLiteral("老王|10.0.0.5\r\n"))));
    Open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("联系列表"));
    EXPECT_EQ(window->size(), QSize(6030 / 15, 7230 / 15));
    EXPECT_EQ(Find<QLabel>(window, "lblAdrs1")->text(), QStringLiteral("联系列表中共有 1 个地址:"));

    Type(QStringLiteral(" Alice "), QStringLiteral("192.168.1.20"));
    ClickButton(window, QStringLiteral("cmdAdrs1"));
    EXPECT_EQ(Entries(),
              (QStringList{QStringLiteral("老王|10.0.0.5"), QStringLiteral("Alice|192.168.1.20")}));
    // Only the new entry is selected, the boxes are empty and the count follows.
    EXPECT_EQ(Find<QListWidget>(window, "lstAdrs")->selectedItems(),
              QList<QListWidgetItem*>{Find<QListWidget>(window, "lstAdrs")->item(1)});
    EXPECT_TRUE(Find<QLineEdit>(window, "txtInputAdress1")->text().isEmpty());
    EXPECT_EQ(Find<QLabel>(window, "lblAdrs1")->text(), QStringLiteral("联系列表中共有 2 个地址:"));

    struct Refusal {
        QString name;
        QString address;
        QString message;
        MessageKind kind;
    };
    const QList<Refusal> refusals = {
        {QStringLiteral("ALICE"), QStringLiteral("192.168.1.20"),
         QStringLiteral("输入的地址已存在地址簿中。"), MessageKind::Warning},
        {QStringLiteral("  "), QStringLiteral("192.168.1.20"), QString(), MessageKind::Info},
        {QStringLiteral("A|B"), QStringLiteral("192.168.1.20"),
         QStringLiteral("用户名中不能包含|字符。"), MessageKind::Info},
        {QStringLiteral("Carol"), QStringLiteral("300.1.1.1"),
         QStringLiteral("无效的IP或TVX地址,请重新输入。"), MessageKind::Error},
    };
    for (int button : {1, 2}) {
        Select({0});
        for (const Refusal& r : refusals) {
            Type(r.name, r.address);
            ClickButton(window, QStringLiteral("cmdAdrs%1").arg(button));
            const QString expected = !r.message.isEmpty() ? r.message
                                     : button == 1 ? QStringLiteral("用户名不能为空。")
                                                   : QStringLiteral("用户名称不能为空。");
            EXPECT_EQ(LastMessage(), expected);
            EXPECT_EQ(LastStyle(), MessageStyleOf(r.kind));
        }
        EXPECT_EQ(Entries().size(), 2);
    }
    EXPECT_EQ(Entries()[0], QStringLiteral("老王|10.0.0.5"));

    // The same address under another name is another entry; control characters go.
    Type(QStringLiteral("Bo\tb\n"), QStringLiteral("192.168.1.20\r"));
    ClickButton(window, QStringLiteral("cmdAdrs1"));
    EXPECT_EQ(Entries().last(), QStringLiteral("Bob|192.168.1.20"));

    Find<QListWidget>(window, "lstAdrs")->clearSelection();
    ClickButton(window, QStringLiteral("cmdAdrs2"));
    EXPECT_EQ(LastMessage(), QStringLiteral("目前尚未选择任何地址。"));
    // Editing changes the selected entry, not the current one left by a Ctrl+click.
    Find<QListWidget>(window, "lstAdrs")->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    Find<QListWidget>(window, "lstAdrs")->item(0)->setSelected(true);
    Type(QStringLiteral("王五"), QStringLiteral("NVSSWFDSEN"));
    ClickButton(window, QStringLiteral("cmdAdrs2"));
    EXPECT_EQ(Entries(),
              (QStringList{QStringLiteral("王五|NVSSWFDSEN"), QStringLiteral("Alice|192.168.1.20"),
                           QStringLiteral("Bob|192.168.1.20")}));
    // Re-entering it unchanged counts as a duplicate of itself.
    ClickButton(window, QStringLiteral("cmdAdrs2"));
    EXPECT_EQ(LastMessage(), QStringLiteral("输入的地址已存在地址簿中。"));
}

TEST_F(AddressBook, DeleteInvertAndSaveOnlyWhenAsked) {
    const QByteArray before =
        ToAnsi(QStringLiteral("甲|10.0.0.1\r\n乙|10.0.0.2\r\n丙|10.0.0.3\r\n"
                              "丁|10.0.0.4\r\n"));
    ASSERT_TRUE(WriteFile(BookPath(), before));
    Open();
    Select({0, 2, 3});
    fake.messageBox->answers.enqueue(MessageAnswer::No);
    ClickButton(window, QStringLiteral("cmdAdrs3"));
    EXPECT_EQ(LastMessage(), QStringLiteral("确实要删除选择的 3 个地址么？"));
    EXPECT_EQ(Entries().size(), 4);
    ClickButton(window, QStringLiteral("cmdAdrs3"));
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("乙|10.0.0.2")});
    EXPECT_EQ(Find<QLabel>(window, "lblAdrs1")->text(), QStringLiteral("联系列表中共有 1 个地址:"));
    ClickButton(window, QStringLiteral("cmdAdrs4"));
    EXPECT_TRUE(Find<QListWidget>(window, "lstAdrs")->item(0)->isSelected());

    // The program's own close, at its end, drops the edits without a question.
    const int messages = int(fake.messageBox->shown.size());
    window->close();
    EXPECT_EQ(fake.messageBox->shown.size(), messages);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(ReadAll(BookPath()), before);
    Open();
    EXPECT_EQ(Entries().size(), 4);

    Select({1});
    ClickButton(window, QStringLiteral("cmdAdrs3"));
    EXPECT_EQ(LastMessage(), QStringLiteral("确实要删除地址 \"乙|10.0.0.2\" 么？"));
    ClickButton(window, QStringLiteral("cmdAdrs5"));
    EXPECT_EQ(LastMessage(), QStringLiteral("地址簿保存成功。"));
    EXPECT_EQ(ReadAll(BookPath()),
              ToAnsi(QStringLiteral("甲|10.0.0.1\r\n丙|10.0.0.3\r\n丁|10.0.0.4\r\n")));

    // A save that fails keeps the old file and the list, and says why.
    const QString blocked = folder.path() + QStringLiteral("/ro/");
    ASSERT_TRUE(QDir().mkpath(blocked + kAddressBookFileName));
    session.appFolder = blocked;
    ClickButton(window, QStringLiteral("cmdAdrs5"));
    EXPECT_TRUE(
        LastMessage().startsWith(QStringLiteral("将用户地址保存到地址簿时发生错误。\r\n\r\n")));
    EXPECT_EQ(LastStyle(), MessageStyleOf(MessageKind::Error));
    EXPECT_EQ(Entries().size(), 3);
}

TEST_F(AddressBook, ClosingWithUnsavedEditsAsksWhetherToSave) {
    const QByteArray before = ToAnsi(QStringLiteral("甲|10.0.0.1\r\n"));
    ASSERT_TRUE(WriteFile(BookPath(), before));
    // Closed by the user through the desktop, as its close box would: the window system's
    // close event reaches the window's handle.
    const auto closeBox = [&] {
        QCloseEvent event;
        QCoreApplication::sendEvent(window->windowHandle(), &event);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    Open().show();
    closeBox();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());

    const QString question = QStringLiteral("地址簿已被修改，是否保存修改？");
    Open().show();
    Type(QStringLiteral("乙"), QStringLiteral("10.0.0.2"));
    ClickButton(window, QStringLiteral("cmdAdrs1"));
    fake.messageBox->answers << MessageAnswer::Cancel << MessageAnswer::No;
    closeBox();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(LastMessage(), question);
    EXPECT_EQ(LastStyle(), MessageStyleOf(MessageKind::AskCancel));
    closeBox();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(ReadAll(BookPath()), before);

    // Yes saves and closes; a save that fails keeps the window open.
    Open().show();
    Type(QStringLiteral("乙"), QStringLiteral("10.0.0.2"));
    ClickButton(window, QStringLiteral("cmdAdrs1"));
    const QString appFolder = session.appFolder;
    session.appFolder = folder.path() + QStringLiteral("/missing/");
    fake.messageBox->answers << MessageAnswer::Yes;
    closeBox();
    ASSERT_FALSE(window.isNull());
    EXPECT_EQ(LastStyle(), MessageStyleOf(MessageKind::Error));
    session.appFolder = appFolder;
    fake.messageBox->answers << MessageAnswer::Yes;
    closeBox();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(LastMessage(), question);
    EXPECT_EQ(ReadAll(BookPath()), ToAnsi(QStringLiteral("甲|10.0.0.1\r\n乙|10.0.0.2\r\n")));

    // An edit undone by hand is no change.
    Open().show();
    Type(QStringLiteral("丙"), QStringLiteral("10.0.0.3"));
    ClickButton(window, QStringLiteral("cmdAdrs1"));
    fake.messageBox->answers << MessageAnswer::Yes;
    ClickButton(window, QStringLiteral("cmdAdrs3"));
    const int shown = int(fake.messageBox->shown.size());
    closeBox();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(fake.messageBox->shown.size(), shown);
}

TEST_F(AddressBook, AFoundCopyUnderAnEarlierCodeUpdatesItsEntry) {
    // The copy on 192.168.1.7 is in the book under the code of an earlier start; another
    // copy has the same nickname.
    const QString earlier = EncodeAddressCode(QStringLiteral("192.168.1.7"), 0x11);
    const QString current = EncodeAddressCode(QStringLiteral("192.168.1.7"), 0x22);
    ASSERT_NE(earlier, current);
    ASSERT_TRUE(WriteFile(BookPath(), ToAnsi(QStringLiteral("老王|10.0.0.5\r\nBob|") + earlier +
                                             QStringLiteral("\r\n"))));
    Open();
    PresencePeer bob{QStringLiteral("192.168.1.7"), current, QStringLiteral("Bob"), {}};
    PresencePeer other{QStringLiteral("192.168.1.8"),
                       EncodeAddressCode("192.168.1.8", 0x33),
                       QStringLiteral("Bob"),
                       {}};
    ShowFoundPeers(Find<QListWidget>(window, "lstOnline"), 0, {bob, other});
    EXPECT_EQ(
        ItemTexts(Find<QListWidget>(window, "lstOnline")),
        (QStringList{QStringLiteral("Bob (192.168.1.7)"), QStringLiteral("Bob (192.168.1.8)")}));

    Find<QListWidget>(window, "lstOnline")->setCurrentRow(0);
    fake.messageBox->answers << MessageAnswer::No;
    window->AddFoundPeerToBook();
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(LastMessage(), QStringLiteral("该地址已存在地址簿中: \"Bob|") + earlier +
                                 QStringLiteral("\"\r\n是否将该项更新为 \"Bob|") + current +
                                 QStringLiteral("\" ？"));
    EXPECT_EQ(LastStyle(), MessageStyleOf(MessageKind::Ask));
    EXPECT_FALSE(window->HasUnsavedChanges());

    fake.messageBox->answers << MessageAnswer::Yes;
    window->AddFoundPeerToBook();
    EXPECT_EQ(Entries(),
              (QStringList{QStringLiteral("老王|10.0.0.5"), QStringLiteral("Bob|") + current}));
    EXPECT_EQ(Find<QListWidget>(window, "lstAdrs")->selectedItems(),
              QList<QListWidgetItem*>{Find<QListWidget>(window, "lstAdrs")->item(1)});
    EXPECT_TRUE(window->HasUnsavedChanges());

    // The other Bob is another address: a new entry.
    Find<QListWidget>(window, "lstOnline")->setCurrentRow(1);
    const int shown = int(fake.messageBox->shown.size());
    window->AddFoundPeerToBook();
    EXPECT_EQ(fake.messageBox->shown.size(), shown);
    EXPECT_EQ(Entries().size(), 3);
    EXPECT_EQ(Find<QLabel>(window, "lblAdrs1")->text(), QStringLiteral("联系列表中共有 3 个地址:"));
}

TEST_F(AddressBook, ContextMenuNeedsASelectionAndNamesTheSelectedEntry) {
    ASSERT_TRUE(WriteFile(BookPath(), "Ann|10.0.0.1\r\nBen|NVSSWFDSEN\r\n"));
    Open();
    QSignalSpy sends(window.data(), &AddressBookWindow::SendFileRequested);
    QSignalSpy invitations(window.data(), &AddressBookWindow::InvitationRequested);
    Find<QListWidget>(window, "lstAdrs")->clearSelection();
    window->ShowContextMenu(QPoint(10, 10));
    EXPECT_FALSE(window->mnuFile()->isEnabled());
    EXPECT_FALSE(window->mnuChat()->isEnabled());
    window->ContextMenu()->hide();

    Find<QListWidget>(window, "lstAdrs")->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    Select({1});
    window->ShowContextMenu(QPoint(10, 10));
    EXPECT_TRUE(window->mnuFile()->isEnabled());
    EXPECT_EQ(window->mnuFile()->text(), QStringLiteral("发送文件"));
    EXPECT_EQ(window->mnuChat()->text(), QStringLiteral("发送邀请"));
    window->ContextMenu()->hide();
    window->mnuFile()->trigger();
    window->mnuChat()->trigger();
    ASSERT_EQ(sends.count(), 1);
    EXPECT_EQ(sends[0][0].toString(), QStringLiteral("NVSSWFDSEN"));
    ASSERT_EQ(invitations.count(), 1);
    EXPECT_EQ(invitations[0][0].toString(), QStringLiteral("NVSSWFDSEN"));
}

TEST_F(AddressBook, Render) {
    ASSERT_TRUE(WriteFile(BookPath(), ToAnsi(QStringLiteral("小明|192.168.1.20\r\n小红|10.0.0.7\r\n"
                                                            "Alice|NVSSWFDSEN\r\n"))));
    Open();
    Select({1});
    Type(QStringLiteral("老王"), QStringLiteral("10.0.0.5"));
    EXPECT_TRUE(RenderToPng(*window, QStringLiteral("address-book")));
    EXPECT_EQ(window->size(), QSize(6030 / 15, 7230 / 15));
}

}  // namespace
}  // namespace tvx::test
