#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>

#include "address/AddressCode.h"
#include "address/AddressPicker.h"
#include "support/Clicks.h"
#include "support/Fakes.h"

// The address picker on its own: the load rule, the pick for either window and the close on
// losing the focus.
namespace tvx::test {
namespace {

class AddressPickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        session.appFolder = folder.path() + QLatin1Char('/');
    }
    void WriteBook(const QByteArray& content) {
        QFile book(session.appFolder + QStringLiteral("Address.dat"));
        ASSERT_TRUE(book.open(QIODevice::WriteOnly));
        book.write(content);
    }
    AddressPicker* Open(PickerPurpose purpose) {
        return OpenAddressPicker(session, nullptr, purpose,
                                 [this](PickerPurpose p, const QString& address) {
                                     picks << QStringLiteral("%1:%2").arg(int(p)).arg(address);
                                 });
    }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session{fake.platform};
    QStringList picks;
};

TEST_F(AddressPickerTest, LoadsAtMostFiveHundredValidLinesWithoutAMessage) {
    QByteArray book = "only a name\r\nBob|\r\n|10.0.0.1\r\nCarol|10.0.0.5|x\r\n";
    for (int i = 0; i < 600; ++i)
        book +=
            QStringLiteral("P%1|10.0.%2.%3\r\n").arg(i).arg(i / 250).arg(i % 250 + 1).toLatin1();
    WriteBook(book);
    QPointer<AddressPicker> picker = Open(PickerPurpose::SendFile);
    ASSERT_EQ(Find<QListWidget>(picker, "lstUser")->count(), 500);
    // "|10.0.0.1" splits into two parts; the name is empty but the line counts.
    EXPECT_EQ(Find<QListWidget>(picker, "lstUser")->item(0)->text(), QStringLiteral("|10.0.0.1"));
    EXPECT_EQ(Find<QListWidget>(picker, "lstUser")->item(499)->text(),
              QStringLiteral("P498|10.0.1.249"));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
    EXPECT_EQ(picker->windowTitle(), QStringLiteral("地址簿列表"));
    picker->close();
}

TEST_F(AddressPickerTest, AllLinesInvalidStillOpensWithAnEmptyList) {
    WriteBook("Bob\r\nAlice|999.1.1.1\r\n");
    QPointer<AddressPicker> picker = Open(PickerPurpose::ChatInvitation);
    EXPECT_EQ(Find<QListWidget>(picker, "lstUser")->count(), 0);
    picker->PickSelectedEntry();
    EXPECT_TRUE(picks.isEmpty());
    picker->close();
}

TEST_F(AddressPickerTest, DoubleClickHandsTheStoredAddressToItsWindowAndCloses) {
    const QString code = EncodeAddressCode(QStringLiteral("192.168.1.20"));
    WriteBook(("Alice|" + code + "\r\nBob|10.0.0.5\r\n").toLatin1());
    QPointer<AddressPicker> picker = Open(PickerPurpose::ChatInvitation);
    Find<QListWidget>(picker, "lstUser")->setCurrentRow(0);
    picker->PickSelectedEntry();
    // A TVX address stays a TVX address; the window checks it when it is used.
    EXPECT_EQ(picks, QStringList{QStringLiteral("2:") + code});
    EXPECT_EQ(picker->purpose(), PickerPurpose::None);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(picker.isNull());
}

TEST_F(AddressPickerTest, LosingTheFocusClosesWithoutAPick) {
    WriteBook("Bob|10.0.0.5\r\n");
    QPointer<AddressPicker> picker = Open(PickerPurpose::SendFile);
    Find<QListWidget>(picker, "lstUser")->setCurrentRow(0);
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(picker, &deactivate);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(picker.isNull());
    EXPECT_TRUE(picks.isEmpty());
}

}  // namespace
}  // namespace tvx::test
