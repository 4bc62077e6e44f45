#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>

#include "address/AddressCode.h"
#include "address/AddressPicker.h"
#include "presence/PresenceService.h"
#include "records/AddressBookWindow.h"
#include "records/OptionsDialog.h"
#include "records/PersonalInfoWindow.h"
#include "session/Session.h"
#include "shell/MainWindow.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "transfer/SendWindow.h"

using namespace tvx;
using tvx::test::ClickButton;
using tvx::test::FakePlatform;
using tvx::test::Find;

namespace {

const QStringList kLoopbackOnly = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"),
                                   QStringLiteral("127.0.0.4")};

// A complete running copy on a loopback address, announcing to the other two only.
struct Copy {
    Copy(const QString& address, const QString& nickName) : session(fake.platform) {
        session.localAddress = address;
        session.localAddressCode = EncodeAddressCode(address);
        session.appFolder = folder.path() + QLatin1Char('/');
        session.presenceDestinations = kLoopbackOnly;
        session.presencePort = test::PresencePort();
        session.personalInfo.nickName = nickName;
    }
    PresenceService& presence() { return *window.Presence(); }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session;
    MainWindow window{session};
};

struct ThreeCopies {
    ThreeCopies() {
        QFile book(first.session.appFolder + QStringLiteral("Address.dat"));
        EXPECT_TRUE(book.open(QIODevice::WriteOnly));
        book.write("Office|10.0.0.7\r\n");  // the file is GBK: ASCII reads the same
        book.close();
        for (Copy* copy : {&first, &second, &third})
            EXPECT_TRUE(copy->window.Start());
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                return first.presence().PeerCount() == 2 && second.presence().PeerCount() == 2 &&
                       third.presence().PeerCount() == 2;
            },
            1000));
    }
    Copy first{kLoopbackOnly[0], QStringLiteral("甲")};
    Copy second{kLoopbackOnly[1], QStringLiteral("小王")};
    // A stranger's nickname may hold the separator.
    Copy third{kLoopbackOnly[2], QStringLiteral("A|B")};
};

QStringList Texts(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

}  // namespace

TEST(FoundPeersWindows, PickerListsFoundCopiesFirstAndADoubleClickFillsTheSendWindow) {
    ThreeCopies copies;
    Copy& me = copies.first;
    me.window.MenuEntry(1)->trigger();
    SendWindow* send = me.window.FileSendWindow();
    ASSERT_NE(send, nullptr);
    send->AddressBookClicked();
    QPointer<AddressPicker> picker = send->Picker();
    ASSERT_FALSE(picker.isNull());
    QListWidget* list = Find<QListWidget>(picker, "lstUser");
    const QString thirdCode = copies.third.session.localAddressCode;
    // A found copy shows its IPv4 address beside its nickname.
    EXPECT_EQ(Texts(list),
              (QStringList{QStringLiteral("在线用户"), QStringLiteral("小王 (127.0.0.3)"),
                           QStringLiteral("A|B (127.0.0.4)"), QStringLiteral("地址簿"),
                           QStringLiteral("Office|10.0.0.7")}));
    // The group captions can be neither selected nor picked.
    EXPECT_EQ(list->item(0)->flags(), Qt::NoItemFlags);
    list->setCurrentRow(3);
    picker->PickSelectedEntry();
    ASSERT_FALSE(picker.isNull());
    EXPECT_TRUE(Find<QLineEdit>(send, "txtFSInfo1")->text().isEmpty());

    // A nickname change shows while the picker is open.
    PersonalInfoWindow card(copies.second.session);
    Find<QLineEdit>(&card, "txtLocalInfo3")->setText(QStringLiteral("老王"));
    ClickButton(&card, QStringLiteral("cmdDo1"));
    ASSERT_TRUE(test::WaitUntil(
        [&] { return list->item(1)->text() == QStringLiteral("老王 (127.0.0.3)"); }, 1000));
    EXPECT_TRUE(test::RenderToPng(*picker, QStringLiteral("address_picker_found_peers")));

    // A pick hands over the TVX address the copy announced.
    list->setCurrentRow(2);
    picker->PickSelectedEntry();
    EXPECT_EQ(Find<QLineEdit>(send, "txtFSInfo1")->text(), thirdCode);
    EXPECT_TRUE(picker.isNull() || !picker->isVisible());
}

TEST(FoundPeersWindows, AddressBookShowsFoundCopiesFollowsThemAndAddsOneToTheBook) {
    ThreeCopies copies;
    Copy& me = copies.first;
    me.window.MenuEntry(5)->trigger();
    AddressBookWindow* book = me.window.AddressBook();
    ASSERT_NE(book, nullptr);
    QListWidget* online = Find<QListWidget>(book, "lstOnline");
    const QString thirdCode = copies.third.session.localAddressCode;
    EXPECT_TRUE(online->isVisible());
    EXPECT_EQ(Texts(online),
              (QStringList{QStringLiteral("小王 (127.0.0.3)"), QStringLiteral("A|B (127.0.0.4)")}));
    EXPECT_EQ(Texts(Find<QListWidget>(book, "lstAdrs")),
              QStringList{QStringLiteral("Office|10.0.0.7")});
    online->setCurrentRow(1);
    EXPECT_TRUE(test::RenderToPng(*book, QStringLiteral("address_book_found_peers")));

    // Its menu starts a send to the copy's TVX address, as a book entry's would.
    QStringList sends;
    QObject::connect(book, &AddressBookWindow::SendFileRequested,
                     [&](const QString& address) { sends << address; });
    book->SendFileToFoundPeer();
    EXPECT_EQ(sends, QStringList{thirdCode});

    // Added under the add button's rules: no "|" in the name, no duplicate.
    book->AddFoundPeerToBook();
    EXPECT_EQ(Texts(Find<QListWidget>(book, "lstAdrs")),
              (QStringList{QStringLiteral("Office|10.0.0.7"), QStringLiteral("AB|") + thirdCode}));
    EXPECT_EQ(Find<QLabel>(book, "lblAdrs1")->text(), QStringLiteral("联系列表中共有 2 个地址:"));
    book->AddFoundPeerToBook();
    EXPECT_EQ(Find<QListWidget>(book, "lstAdrs")->count(), 2);
    ASSERT_FALSE(me.fake.messageBox->shown.isEmpty());
    EXPECT_EQ(me.fake.messageBox->shown.last().text, QStringLiteral("输入的地址已存在地址簿中。"));

    // The options' check box turns Discoverable off: a goodbye takes the copy off every list
    // at once, while it still lists the others.
    Copy& hiding = copies.second;
    hiding.window.MenuEntry(8)->trigger();
    OptionsDialog* options = hiding.window.Options();
    ASSERT_NE(options, nullptr);
    QCheckBox* discoverable = Find<QCheckBox>(options, "chkDiscoverable");
    ASSERT_NE(discoverable, nullptr);
    EXPECT_EQ(discoverable->text(), QStringLiteral("在局域网中显示本机"));
    EXPECT_TRUE(discoverable->isChecked());
    discoverable->setChecked(false);
    ClickButton(options, QStringLiteral("cmdDo1"));
    EXPECT_EQ(hiding.fake.settings->values.value(QStringLiteral("Discoverable")),
              QStringLiteral("0"));
    EXPECT_FALSE(hiding.session.settings.discoverable);
    ASSERT_TRUE(test::WaitUntil([&] { return online->count() == 1; }, 500));
    EXPECT_EQ(online->item(0)->text(), QStringLiteral("A|B (127.0.0.4)"));
    EXPECT_TRUE(online->item(0)->isSelected());
    ASSERT_TRUE(test::WaitUntil([&] { return copies.third.presence().PeerCount() == 1; }, 500));
    hiding.presence().Query();
    test::WaitUntil([] { return false; }, 700);
    EXPECT_EQ(online->count(), 1);
    EXPECT_EQ(hiding.presence().PeerCount(), 2);

    // A copy that ends leaves the list at once.
    copies.third.window.MenuEntry(12)->trigger();
    ASSERT_TRUE(test::WaitUntil([&] { return online->count() == 0; }, 500));
    EXPECT_EQ(Find<QListWidget>(book, "lstAdrs")->count(), 2);
}

TEST(FoundPeersWindows, CopiesOnLoopbackAddressesAnnounceToLoopbackAddressesOnly) {
    const QStringList destinations = PresenceDestinations(QStringLiteral("127.0.0.3"));
    EXPECT_EQ(destinations.size(), 8);
    EXPECT_FALSE(destinations.contains(QStringLiteral("127.0.0.3")));
    EXPECT_TRUE(destinations.contains(QStringLiteral("127.0.0.2")));
    for (const QString& destination : destinations)
        EXPECT_TRUE(IsLoopbackAddress(destination)) << destination.toStdString();
}
