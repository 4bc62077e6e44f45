#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "address/AddressCode.h"
#include "common/Controls.h"
#include "platform/System.h"
#include "records/PeerInfoWindow.h"
#include "records/PersonalInfoWindow.h"
#include "security/TlsIdentity.h"
#include "session/Session.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "texts/SecurityTexts.h"

using namespace tvx;
using tvx::test::ClickButton;
using tvx::test::FakePlatform;
using tvx::test::Find;

namespace {

struct Rig {
    Rig() : session(fake.platform) {
        session.localAddress = QStringLiteral("192.168.0.5");
        session.localAddressCode = EncodeAddressCode(session.localAddress, 0x5A);
        session.appFolder = folder.path() + QLatin1Char('/');
        session.personalInfo.nickName = QStringLiteral("TESTPC");
    }
    QStringList Messages() const { return fake.messageBox->Texts(); }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session;
};

}  // namespace

TEST(PersonalInfoWindow, ShowsTheRunningValues) {
    Rig rig;
    rig.session.personalInfo.sex = QStringLiteral("2");
    rig.session.personalInfo.otherInfo = QStringLiteral("a\r\nb");
    PersonalInfoWindow window(rig.session);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("个人信息"));
    EXPECT_EQ(Find<QLineEdit>(&window, "txtLocalInfo1")->text(), rig.session.localAddressCode);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtLocalInfo2")->text(), QStringLiteral("192.168.0.5"));
    EXPECT_TRUE(Find<QLineEdit>(&window, "txtLocalInfo1")->isReadOnly());
    EXPECT_EQ(Find<QLineEdit>(&window, "txtLocalInfo3")->text(), QStringLiteral("TESTPC"));
    EXPECT_EQ(Find<QComboBox>(&window, "cobSex")->currentText(), QStringLiteral("女士"));
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "txtLocalInfo9")->toPlainText(),
              QStringLiteral("a\nb"));
    EXPECT_EQ(ControlText(&window, QStringLiteral("txtFingerprint")), OwnFingerprintLine({}));

    // With a key the code is shown, to be read aloud or copied but not changed.
    rig.session.identity = TlsIdentity::CreateTransient();
    PersonalInfoWindow keyed(rig.session);
    auto* code = Find<QLineEdit>(&keyed, "txtFingerprint");
    EXPECT_EQ(code->text(), OwnFingerprintLine(rig.session.identity->fingerprint()));
    EXPECT_TRUE(code->text().contains(FingerprintCode(rig.session.identity->fingerprint())));
    EXPECT_TRUE(code->isReadOnly());
}

TEST(PersonalInfoWindow, RefusesAnEmptyOrBarredNickname) {
    Rig rig;
    PersonalInfoWindow window(rig.session);
    Find<QLineEdit>(&window, "txtLocalInfo4")->setText(QStringLiteral("30"));
    for (const char* nick : {"", "   "}) {
        Find<QLineEdit>(&window, "txtLocalInfo3")->setText(QString::fromUtf8(nick));
        ClickButton(&window, QStringLiteral("cmdDo1"));
        EXPECT_EQ(rig.fake.messageBox->shown.last().text, QStringLiteral("昵称不能为空。"));
        EXPECT_EQ(rig.fake.messageBox->shown.last().style, MessageStyleOf(MessageKind::Warning));
    }
    Find<QLineEdit>(&window, "txtLocalInfo3")->setText(QStringLiteral("a|b"));
    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.fake.messageBox->shown.last().text, QStringLiteral("昵称中不能包含|字符。"));
    EXPECT_EQ(rig.fake.messageBox->shown.last().style, MessageStyleOf(MessageKind::Info));
    // Nothing was stored, and the typed values stay.
    EXPECT_TRUE(rig.fake.settings->writeOrder.isEmpty());
    EXPECT_EQ(Find<QLineEdit>(&window, "txtLocalInfo4")->text(), QStringLiteral("30"));
    EXPECT_EQ(rig.session.personalInfo.nickName, QStringLiteral("TESTPC"));
}

TEST(PersonalInfoWindow, SavingWritesTheEightKeysInOrder) {
    Rig rig;
    PersonalInfoWindow window(rig.session);
    window.show();
    Find<QLineEdit>(&window, "txtLocalInfo3")->setText(QStringLiteral(" 小王 "));
    Find<QComboBox>(&window, "cobSex")->setCurrentIndex(1);
    Find<QLineEdit>(&window, "txtLocalInfo5")->setText(QStringLiteral(" 123 "));
    Find<QPlainTextEdit>(&window, "txtLocalInfo9")->setPlainText(QStringLiteral("\n\nhello\n"));
    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_TRUE(rig.fake.messageBox->shown.isEmpty());
    EXPECT_EQ(rig.fake.settings->writeOrder,
              (QStringList{"NickName", "Sex", "Age", "Phone", "Email", "HomePage", "Address",
                           "OtherInfo"}));
    const auto& values = rig.fake.settings->values;
    EXPECT_EQ(values.value(QStringLiteral("NickName")), QStringLiteral("小王"));
    EXPECT_EQ(values.value(QStringLiteral("Sex")), QStringLiteral("1"));
    EXPECT_EQ(values.value(QStringLiteral("Phone")), QStringLiteral("123"));
    EXPECT_EQ(values.value(QStringLiteral("OtherInfo")), QStringLiteral("hello"));
    EXPECT_EQ(rig.session.personalInfo.nickName, QStringLiteral("小王"));
    EXPECT_EQ(rig.session.personalInfo.Fields().size(), 8);
    EXPECT_FALSE(window.isVisible());
}

TEST(PersonalInfoWindow, LeavingABoxTrimsIt) {
    Rig rig;
    PersonalInfoWindow window(rig.session);
    window.show();
    QApplication::setActiveWindow(&window);
    Find<QLineEdit>(&window, "txtLocalInfo6")->setFocus();
    Find<QLineEdit>(&window, "txtLocalInfo6")->setText(QStringLiteral("  a@b  "));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(Find<QLineEdit>(&window, "txtLocalInfo6"), &out);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtLocalInfo6")->text(), QStringLiteral("a@b"));
    Find<QPlainTextEdit>(&window, "txtLocalInfo9")->setPlainText(QStringLiteral("\n  x \n\n"));
    QApplication::sendEvent(Find<QPlainTextEdit>(&window, "txtLocalInfo9"), &out);
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "txtLocalInfo9")->toPlainText(), QStringLiteral("x"));
}

TEST(PersonalInfoWindow, FreshCodeAlwaysDiffersAndTakesEffectAtOnce) {
    Rig rig;
    PersonalInfoWindow window(rig.session);
    for (int i = 0; i < 200; ++i) {
        const QString before = Find<QLineEdit>(&window, "txtLocalInfo1")->text();
        ClickButton(&window, QStringLiteral("cmdDo3"));
        const QString after = Find<QLineEdit>(&window, "txtLocalInfo1")->text();
        ASSERT_NE(after, before);
        ASSERT_EQ(ResolvePeerAddress(after), QStringLiteral("192.168.0.5"));
        ASSERT_EQ(rig.session.localAddressCode, after);
    }
    // Cancelling keeps the new code but changes nothing else.
    ClickButton(&window, QStringLiteral("cmdDo2"));
    EXPECT_TRUE(rig.fake.settings->writeOrder.isEmpty());
}

TEST(PersonalInfoWindow, RightClickCopiesAnAddress) {
    Rig rig;
    PersonalInfoWindow window(rig.session);
    window.show();
    QTest::mouseClick(Find<QLineEdit>(&window, "txtLocalInfo2"), Qt::RightButton);
    EXPECT_EQ(rig.fake.shell->clipboard, QStringLiteral("192.168.0.5"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("本地IP地址已复制到剪贴板。"));
    QTest::mouseClick(Find<QLineEdit>(&window, "txtLocalInfo1"), Qt::RightButton);
    EXPECT_EQ(rig.fake.shell->clipboard, rig.session.localAddressCode);
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("本地TVX地址已复制到剪贴板。"));
}

TEST(PeerInfoWindow, ShowsTheReceivedCard) {
    Rig rig;
    const QByteArray fingerprint =
        QByteArray::fromHex("0badc0ffee0ddf00d0000000000000000000000000000000000000000000001f");
    PeerInfoWindow* window = ShowPeerInfo(
        rig.session, {"XXEEEXEEEF", "小明", "1", "20", "", "", "", "", "第一行\r\n第二行"},
        fingerprint);
    EXPECT_EQ(ControlText(window, QStringLiteral("txtFingerprint")),
              EncryptionLine(true, fingerprint));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("对方信息"));
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo1")), QStringLiteral("XXEEEXEEEF"));
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo2")), QStringLiteral("小明"));
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo3")), QStringLiteral("先生"));
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo4")), QStringLiteral("20"));
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo9")),
              QStringLiteral("第一行\r\n第二行"));
    window->Fill({"XXEEEXEEEF", "x", "7"});
    EXPECT_EQ(ControlText(window, QStringLiteral("txtGuestInfo3")), QString());
    // A peer on the plain wire has no code to show.
    window->ShowFingerprint(QByteArray());
    EXPECT_EQ(ControlText(window, QStringLiteral("txtFingerprint")), EncryptionLine(false, {}));
    ClickButton(window, QStringLiteral("cmdDo3"));
}

TEST(PeerInfoWindow, AddsToTheAddressBookWithoutBars) {
    Rig rig;
    PeerInfoWindow window(rig.session);
    window.Fill({"XXEEEXEEEF", "a|b", "0"});
    rig.fake.messageBox->answers << MessageAnswer::No;
    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.Messages().last(),
              QStringLiteral("确实要将该用户地址加入地址簿么？\r\n添加后可在\"地址簿\"中编辑。"));
    const QString book = rig.session.appFolder + QStringLiteral("Address.dat");
    EXPECT_FALSE(QFile::exists(book));

    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("添加地址操作成功。"));
    QFile file(book);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(FromAnsi(file.readAll()), QStringLiteral("ab|XXEEEXEEEF\r\n"));
    file.close();

    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("该地址已存在地址簿中。"));
}

TEST(PeerInfoWindow, AnEntryForTheSameAddressIsOfferedForUpdate) {
    Rig rig;
    // The peer is in the book under its dotted address; it now shows a code for it.
    const QString book = rig.session.appFolder + QStringLiteral("Address.dat");
    const QByteArray before =
        ToAnsi(QStringLiteral("甲|10.0.0.1\r\n老王|192.168.0.9\r\n乙|10.0.0.2"));
    QFile file(book);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(before);
    file.close();
    const QString code = EncodeAddressCode(QStringLiteral("192.168.0.9"), 0x33);
    PeerInfoWindow window(rig.session);
    window.Fill({code, "小王", "0"});

    rig.fake.messageBox->answers << MessageAnswer::Yes << MessageAnswer::No;
    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("该地址已存在地址簿中: \"老王|192.168.0.9\"\r\n"
                                                    "是否将该项更新为 \"小王|") +
                                         code + QStringLiteral("\" ？"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();

    // Yes replaces that one line; the others stay as they were, byte for byte.
    rig.fake.messageBox->answers << MessageAnswer::Yes << MessageAnswer::Yes;
    ClickButton(&window, QStringLiteral("cmdDo1"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("更新地址操作成功。"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(FromAnsi(file.readAll()),
              QStringLiteral("甲|10.0.0.1\r\n小王|") + code + QStringLiteral("\r\n乙|10.0.0.2"));
}

TEST(PeerInfoWindow, BlockingTwiceIsRefused) {
    Rig rig;
    PeerInfoWindow window(rig.session);
    window.Fill({"XXEEEXEEEF", "小明", "0"});
    ClickButton(&window, QStringLiteral("cmdDo2"));
    EXPECT_EQ(rig.fake.messageBox->shown[0].text,
              QStringLiteral(
                  "确实要将此用户地址加入屏蔽列表么？\r\n要解除屏蔽请在\"选项-安全\"中设置。"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("屏蔽地址操作成功。"));
    EXPECT_EQ(rig.session.blockList, QStringList{QStringLiteral("XXEEEXEEEF")});
    ClickButton(&window, QStringLiteral("cmdDo2"));
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("该地址已存在屏蔽列表中。"));
    EXPECT_EQ(rig.session.blockList.size(), 1);
    // The file is written only when the options are confirmed.
    EXPECT_FALSE(QFile::exists(rig.session.appFolder + QStringLiteral("BlockAdrs.dat")));
}

TEST(PersonalInfoRecord, EightFieldsAndSevenSeparators) {
    PersonalInfo card;
    card.nickName = QStringLiteral("Ab");
    const QString record = PersonalInfoRecord(card);
    EXPECT_EQ(record.count(QChar(0x0403)), 7);
    const QByteArray wire(reinterpret_cast<const char*>(record.utf16()), record.size() * 2);
    EXPECT_EQ(wire, QByteArray("A\0b\0\x03\x04"
                               "0\0\x03\x04\x03\x04\x03\x04\x03\x04\x03\x04\x03\x04",
                               6 + 2 + 12));
}
