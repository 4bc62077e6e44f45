#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include "address/AddressCode.h"
#include "platform/System.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "session/Session.h"
#include "support/Fakes.h"

namespace tvx::test {
namespace {

class AddressFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        session.appFolder = dir.path() + QLatin1Char('/');
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    }

    QString PathOf(const QString& name) const { return session.appFolder + name; }
    void WriteFile(const QString& name, const QStringList& lines) {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ToAnsi(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    }
    QByteArray FileBytes(const QString& name) const {
        QFile file(PathOf(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList Texts() const { return fake.messageBox->Texts(); }

    QTemporaryDir dir;
    FakePlatform fake;
    Session session{fake.platform};
    QWidget owner;
    QListWidget list;
};

QStringList ValidAddresses(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256);
    return lines;
}

TEST_F(AddressFiles, BlockListKeepsFiveHundredAndSaysSoOnce) {
    WriteFile(kBlockListFileName, ValidAddresses(600));
    LoadBlockList(session, &owner);
    ASSERT_EQ(session.blockList.size(), 500);
    EXPECT_EQ(session.blockList.last(), QStringLiteral("10.0.1.243"));
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    const auto& box = fake.messageBox->shown.first();
    EXPECT_EQ(box.text, QStringLiteral("屏蔽地址数量已超过最大限制500个,超出部分将被忽略。"));
    EXPECT_EQ(box.title, QStringLiteral("Tolvex"));
    EXPECT_EQ(box.style, MessageStyleOf(MessageKind::Warning));

    // Only valid lines count toward the limit.
    WriteFile(kBlockListFileName, ValidAddresses(500) + QStringList{"", "abc", "1.1.1"});
    LoadBlockList(session, &owner);
    EXPECT_EQ(session.blockList.size(), 500);
    EXPECT_EQ(fake.messageBox->shown.size(), 1);
}

TEST_F(AddressFiles, BlockLinesAreCutBeforeTheyAreTrimmed) {
    WriteFile(kBlockListFileName, {"  192.168.100.101", " 10.0.0.7 ", "1.2.3.4 extra", "", "x"});
    LoadBlockList(session, &owner);
    EXPECT_EQ(session.blockList, (QStringList{"192.168.100.1", "10.0.0.7"}));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

TEST_F(AddressFiles, BlockEntriesAreComparedAsResolvedAddresses) {
    const QString code = EncodeAddressCode(QStringLiteral("10.0.0.7"), 0x5A);
    WriteFile(kBlockListFileName, {"192.168.001.002", code.toLower()});
    LoadBlockList(session, &owner);
    EXPECT_EQ(session.blockList.first(), QStringLiteral("192.168.001.002"));
    EXPECT_TRUE(IsBlocked(session.blockList, QStringLiteral("192.168.1.2")));
    EXPECT_TRUE(IsBlocked(session.blockList, QStringLiteral("10.0.0.7")));
    EXPECT_FALSE(IsBlocked(session.blockList, QStringLiteral("10.0.0.8")));
    EXPECT_FALSE(IsBlocked(session.blockList, QString()));
    EXPECT_FALSE(IsBlocked({}, QStringLiteral("192.168.1.2")));

    QFile::remove(PathOf(kBlockListFileName));
    LoadBlockList(session, &owner);
    EXPECT_TRUE(session.blockList.isEmpty());
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

TEST_F(AddressFiles, AddressBookKeepsOnlyNameAndValidAddress) {
    WriteFile(kAddressBookFileName,
              {
                  "Alice|192.168.1.20",
                  "Bob|10.0.0.5|x",                        // three parts
                  "Bob",                                   // one part
                  "Carl|",                                 // no address
                  "Dora|not an address",                   // invalid address
                  "Eve-with-a-long-name|192.168.100.200",  // 36 characters: cut to "192.168.10"
                  "Fay-with-a-name|192.168.100.200",       // 31 characters: kept
                  "  张三|NVSSWFDSEN  ",                   // trimmed, GBK name
                  "|10.0.0.9",                             // no name, still listed
              });
    LoadAddressBook(session, &list, &owner, true);
    EXPECT_EQ(ItemTexts(&list),
              (QStringList{"Alice|192.168.1.20", "Fay-with-a-name|192.168.100.200",
                           "张三|NVSSWFDSEN", "|10.0.0.9"}));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

TEST_F(AddressFiles, AddressBookLimitSpeaksOnlyInTheAddressBookWindow) {
    QStringList lines;
    for (const QString& address : ValidAddresses(501))
        lines << QStringLiteral("n|") + address;
    WriteFile(kAddressBookFileName, lines);

    LoadAddressBook(session, &list, &owner, false);
    EXPECT_EQ(list.count(), 500);
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());

    LoadAddressBook(session, &list, &owner, true);
    EXPECT_EQ(list.count(), 500);
    EXPECT_EQ(Texts(), QStringList{"地址簿数量已超过最大限制500个，超出部分将被忽略。"});
    EXPECT_EQ(fake.messageBox->shown.first().title, QStringLiteral("Tolvex"));
}

TEST(AddressOfEntry, IsTheTextAfterAName) {
    EXPECT_EQ(AddressOfEntry("Alice|1.2.3.4"), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(AddressOfEntry("|1.2.3.4"), QString());
    EXPECT_EQ(AddressOfEntry("Alice"), QString());
    EXPECT_EQ(AddressOfEntry("a|b|c"), QStringLiteral("b|c"));
}

TEST_F(AddressFiles, DeletingOneAsksAboutTheSelectedEntry) {
    list.addItems({"a|1.1.1.1", "b|2.2.2.2", "c|3.3.3.3"});
    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, &list), 0);
    EXPECT_EQ(Texts(), QStringList{"目前尚未选择任何地址。"});
    fake.messageBox->shown.clear();

    list.item(1)->setSelected(true);
    // The focus rests on another, unselected entry, as after a Ctrl+click.
    list.setCurrentRow(0, QItemSelectionModel::NoUpdate);

    fake.messageBox->answers.enqueue(MessageAnswer::No);
    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, &list), 0);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(Texts(), QStringList{"确实要删除地址 \"b|2.2.2.2\" 么？"});

    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, &list), 1);
    EXPECT_EQ(ItemTexts(&list), (QStringList{"a|1.1.1.1", "c|3.3.3.3"}));
}

TEST_F(AddressFiles, DeletingSeveralAsksWithTheCount) {
    list.addItems({"a|1.1.1.1", "b|2.2.2.2", "c|3.3.3.3", "d|4.4.4.4", "e|5.5.5.5"});
    for (int row : {0, 2, 3})
        list.item(row)->setSelected(true);
    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, &list), 3);
    EXPECT_EQ(Texts(), QStringList{"确实要删除选择的 3 个地址么？"});
    EXPECT_EQ(ItemTexts(&list), (QStringList{"b|2.2.2.2", "e|5.5.5.5"}));
    EXPECT_EQ(list.viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(AddressFiles, DeletingAfterTheListChangedUnderTheQuestionRemovesNothingElse) {
    list.addItems({"a|1.1.1.1", "b|2.2.2.2"});
    list.item(1)->setSelected(true);
    fake.messageBox->whileOpen = [this](const ScriptedMessageBox::Shown&) { list.clear(); };
    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, &list), 0);

    auto* doomed = new QListWidget;
    doomed->setSelectionMode(QAbstractItemView::ExtendedSelection);
    doomed->addItems({"a|1.1.1.1", "b|2.2.2.2"});
    doomed->selectAll();
    fake.messageBox->whileOpen = [&doomed](const ScriptedMessageBox::Shown&) { delete doomed; };
    EXPECT_EQ(DeleteSelectedEntries(*fake.messageBox, &owner, doomed), 0);
}

TEST_F(AddressFiles, PickerOpensOnlyOnANonEmptyBook) {
    QList<PickerPurpose> opened;
    auto opener = [&](QWidget* by, PickerPurpose purpose) {
        EXPECT_EQ(by, &owner);
        opened << purpose;
    };
    EXPECT_FALSE(ShowAddressPicker(session, &owner, PickerPurpose::SendFile, opener));
    QFile(PathOf(kAddressBookFileName)).open(QIODevice::WriteOnly);
    EXPECT_FALSE(ShowAddressPicker(session, &owner, PickerPurpose::SendFile, opener));
    EXPECT_EQ(Texts(), (QStringList{"当前地址簿为空。", "当前地址簿为空。"}));
    EXPECT_EQ(fake.messageBox->shown.first().style, MessageStyleOf(MessageKind::Info));

    WriteFile(kAddressBookFileName, {"a|1.1.1.1"});
    EXPECT_TRUE(ShowAddressPicker(session, &owner, PickerPurpose::ChatInvitation, opener));
    EXPECT_EQ(opened, QList<PickerPurpose>{PickerPurpose::ChatInvitation});
}

TEST_F(AddressFiles, SavingRewritesWholeFilesInGbk) {
    WriteFile(kAddressBookFileName, {"old|9.9.9.9", "older|8.8.8.8"});
    QString error;
    ASSERT_TRUE(SaveAddressBook(session.appFolder, {"张三|10.0.0.1", "b|NVSSWFDSEN"}, &error));
    EXPECT_EQ(FileBytes(kAddressBookFileName),
              ToAnsi(QStringLiteral("张三|10.0.0.1\r\nb|NVSSWFDSEN\r\n")));

    ASSERT_TRUE(SaveBlockList(session, {"10.0.0.7", "192.168.001.002"}, &error));
    EXPECT_EQ(session.blockList, (QStringList{"10.0.0.7", "192.168.001.002"}));
    EXPECT_EQ(FileBytes(kBlockListFileName), QByteArray("10.0.0.7\r\n192.168.001.002\r\n"));
}

TEST_F(AddressFiles, DuplicateRulesOfTheAddingWindows) {
    const QStringList blocked = {"10.0.0.7", "NVSSWFDSEN"};
    EXPECT_TRUE(RefuseDuplicateBlockEntry(*fake.messageBox, &owner, blocked, "nvsswfdsen"));
    EXPECT_FALSE(RefuseDuplicateBlockEntry(*fake.messageBox, &owner, blocked, "10.0.0.07"));

    const QStringList book = {"Alice|192.168.1.20"};
    EXPECT_TRUE(
        RefuseDuplicateAddressEntry(*fake.messageBox, &owner, book, "ALICE", "192.168.1.20"));
    EXPECT_FALSE(
        RefuseDuplicateAddressEntry(*fake.messageBox, &owner, book, "Bob", "192.168.1.20"));
    EXPECT_EQ(Texts(), (QStringList{"地址在列表中已存在。", "输入的地址已存在地址簿中。"}));
}

TEST_F(AddressFiles, BlockingAPeerTwiceIsRefusedTheSecondTime) {
    EXPECT_TRUE(BlockPeer(session, &owner, "NVSSWFDSEN"));
    EXPECT_FALSE(BlockPeer(session, &owner, "NVSSWFDSEN"));
    EXPECT_TRUE(BlockPeer(session, &owner, "nvsswfdsen"));  // letter case counts here
    EXPECT_EQ(session.blockList, (QStringList{"NVSSWFDSEN", "nvsswfdsen"}));
    EXPECT_EQ(Texts(), (QStringList{"屏蔽地址操作成功。", "该地址已存在屏蔽列表中。",
                                    "屏蔽地址操作成功。"}));
}

TEST_F(AddressFiles, AddingAPeerAppendsOneLoadableLine) {
    {
        QFile file(PathOf(kAddressBookFileName));  // a last line without its line end
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Al|10.9.9.9");
    }
    EXPECT_TRUE(AddPeerToAddressBook(session, &owner, "a|b", "NVSSWFDSEN"));
    EXPECT_FALSE(AddPeerToAddressBook(session, &owner, "a|b", "NVSSWFDSEN"));
    EXPECT_EQ(FileBytes(kAddressBookFileName), QByteArray("Al|10.9.9.9\r\nab|NVSSWFDSEN\r\n"));
    EXPECT_EQ(Texts(), (QStringList{"添加地址操作成功。", "该地址已存在地址簿中。"}));

    // A peer's line break cannot add lines; a long nickname is shortened to stay loadable.
    EXPECT_TRUE(AddPeerToAddressBook(session, &owner, "x\r\nMallory|1.2.3.4", "XXEEEXEEEF"));
    EXPECT_TRUE(AddPeerToAddressBook(session, &owner, "A-very-long-nickname-indeed", "10.0.0.99"));
    LoadAddressBook(session, &list, &owner, true);
    EXPECT_EQ(ItemTexts(&list),
              (QStringList{"Al|10.9.9.9", "ab|NVSSWFDSEN", "xMallory1.2.3.4|XXEEEXEEEF",
                           "A-very-long-nickname-|10.0.0.99"}));
}

TEST_F(AddressFiles, AddingAPeerReportsAFileError) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(kAddressBookFileName));
    EXPECT_FALSE(AddPeerToAddressBook(session, &owner, "Bob", "NVSSWFDSEN"));
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    const QString prefix = QStringLiteral("将用户地址保存到地址簿时发生错误。\r\n\r\n");
    EXPECT_TRUE(fake.messageBox->shown.first().text.startsWith(prefix));
    EXPECT_GT(fake.messageBox->shown.first().text.size(), prefix.size());
    EXPECT_EQ(fake.messageBox->shown.first().style, MessageStyleOf(MessageKind::Error));
}

}  // namespace
}  // namespace tvx::test
