#include "records/Settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "support/Fakes.h"

using namespace tvx;
using tvx::test::FakePlatform;
using tvx::test::MemorySettingsStore;

namespace {

SettingsRecord LoadAll(MemorySettingsStore& store) {
    SettingsRecord record;
    LoadMainSettings(store, record);
    LoadChatSettings(store, record);
    return record;
}

}  // namespace

TEST(SettingsLoad, EmptyStoreGivesDefaults) {
    MemorySettingsStore store;
    SettingsRecord r = LoadAll(store);
    EXPECT_FALSE(r.saveSendInfo1 || r.useLogFile || r.useTimer || r.popText || r.timerOpen ||
                 r.useSendBuffer || r.useRecvBuffer || r.autoRecvFile || r.existFile ||
                 r.autoOpenFile || r.saveSendInfo2 || r.autoChat);
    EXPECT_EQ(r.logFileSize, 1);
    EXPECT_EQ(r.hour, 0);
    EXPECT_EQ(r.minute, 0);
    EXPECT_EQ(r.sendBufferSize, 1);
    EXPECT_EQ(r.recvBufferSize, 1);
    EXPECT_EQ(r.sendBufferBytes, 524288);
    EXPECT_EQ(r.recvBufferBytes, 1048576);
    EXPECT_EQ(r.autoOpenFileType, QStringLiteral("TXT;DOC;XLS;PPT;ZIP;RAR;JPG;GIF;MP3;AVI;RM"));
    EXPECT_EQ(r.autoChatTip, QStringLiteral("(我有事暂时不在,请在这里留言。)"));
    EXPECT_TRUE(r.autoSavePath.isEmpty());
    // Reading never writes.
    EXPECT_TRUE(store.writeOrder.isEmpty());
}

TEST(SettingsLoad, NumbersOutsideTheirRangeTakeTheDefault) {
    struct Case {
        const char* key;
        const char* stored;
        int expected;
        int SettingsRecord::*field;
    } cases[] = {
        {"LogFileSize", "150", 1, &SettingsRecord::logFileSize},
        {"LogFileSize", "0", 1, &SettingsRecord::logFileSize},
        {"LogFileSize", "99", 99, &SettingsRecord::logFileSize},
        {"LogFileSize", "98.5", 98, &SettingsRecord::logFileSize},  // half to even
        {"LogFileSize", "99.5", 1, &SettingsRecord::logFileSize},   // 100: out of range
        {"LogFileSize", " 7 MB", 7, &SettingsRecord::logFileSize},
        {"Hour", "24", 0, &SettingsRecord::hour},
        {"Hour", "23", 23, &SettingsRecord::hour},
        {"Hour", "22.5", 22, &SettingsRecord::hour},
        {"Hour", "21.5", 22, &SettingsRecord::hour},
        {"Minute", "-1", 0, &SettingsRecord::minute},
        {"Minute", "59", 59, &SettingsRecord::minute},
        {"Minute", "abc", 0, &SettingsRecord::minute},
        {"SendBufferSize", "5", 1, &SettingsRecord::sendBufferSize},
        {"SendBufferSize", "4", 4, &SettingsRecord::sendBufferSize},
        {"RecvBufferSize", "0.5", 1, &SettingsRecord::recvBufferSize},  // rounds to 0
        {"RecvBufferSize", "3", 3, &SettingsRecord::recvBufferSize},
    };
    for (const Case& c : cases) {
        MemorySettingsStore store;
        store.values[QLatin1String(c.key)] = QLatin1String(c.stored);
        SettingsRecord r = LoadAll(store);
        EXPECT_EQ(r.*(c.field), c.expected) << c.key << "=" << c.stored;
    }
}

TEST(SettingsLoad, FlagsReadTheLeadingNumber) {
    const char* on[] = {"1", "-1", "2", " 1", "1abc", "0.5"};
    const char* off[] = {"", "0", "abc", "-0", "0x1"};
    for (const char* text : on)
        EXPECT_TRUE(ParseFlag(QLatin1String(text))) << text;
    for (const char* text : off)
        EXPECT_FALSE(ParseFlag(QLatin1String(text))) << text;
}

TEST(SettingsLoad, DiscoverableIsOnUnlessStoredOff) {
    MemorySettingsStore store;
    EXPECT_TRUE(LoadAll(store).discoverable);
    for (const char* off : {"0", "abc", " 0 "}) {
        store.values[QStringLiteral("Discoverable")] = QString::fromLatin1(off);
        EXPECT_FALSE(LoadAll(store).discoverable) << off;
    }
    EXPECT_TRUE(WriteDiscoverable(store, true));
    EXPECT_EQ(store.values.value(QStringLiteral("Discoverable")), QStringLiteral("1"));
    EXPECT_TRUE(LoadAll(store).discoverable);
    EXPECT_TRUE(WriteDiscoverable(store, false));
    EXPECT_EQ(store.values.value(QStringLiteral("Discoverable")), QStringLiteral("0"));
    EXPECT_FALSE(LoadAll(store).discoverable);
}

TEST(SettingsLoad, BufferSizes) {
    MemorySettingsStore store;
    store.values[QStringLiteral("UseSendBuffer")] = QStringLiteral("1");
    store.values[QStringLiteral("SendBufferSize")] = QStringLiteral("5");
    store.values[QStringLiteral("RecvBufferSize")] = QStringLiteral("3");
    SettingsRecord r = LoadAll(store);
    EXPECT_EQ(r.sendBufferBytes, 1048576);
    // The receive size counts whatever UseRecvBuffer says.
    EXPECT_FALSE(r.useRecvBuffer);
    EXPECT_EQ(r.recvBufferBytes, 3 * 1048576);

    store.values[QStringLiteral("SendBufferSize")] = QStringLiteral("4");
    EXPECT_EQ(LoadAll(store).sendBufferBytes, 4194304);
    store.values[QStringLiteral("UseSendBuffer")] = QStringLiteral("0");
    EXPECT_EQ(LoadAll(store).sendBufferBytes, 524288);

    EXPECT_EQ(ConfirmedSendBufferBytes(false, 4), 131072);
    EXPECT_EQ(ConfirmedSendBufferBytes(true, 2), 2097152);
}

TEST(SettingsLoad, AutomaticSavePath) {
    QTemporaryDir dir;
    MemorySettingsStore store;
    store.values[QStringLiteral("AutoRecvFile")] = QStringLiteral("1");
    store.values[QStringLiteral("AutoSavePath")] = dir.path();
    SettingsRecord r = LoadAll(store);
    EXPECT_TRUE(r.autoRecvFile);
    EXPECT_EQ(r.autoSavePath, dir.path() + QLatin1Char('/'));

    // A folder deleted since: receive by hand, path cleared.
    store.values[QStringLiteral("AutoSavePath")] = dir.path() + QStringLiteral("/gone");
    r = LoadAll(store);
    EXPECT_FALSE(r.autoRecvFile);
    EXPECT_TRUE(r.autoSavePath.isEmpty());

    // With automatic receiving off, the path is only given its slash.
    store.values[QStringLiteral("AutoRecvFile")] = QStringLiteral("0");
    EXPECT_EQ(LoadAll(store).autoSavePath, dir.path() + QStringLiteral("/gone/"));
}

TEST(SettingsStoreAccess, ValuesAreTrimmedBothWays) {
    MemorySettingsStore store;
    ASSERT_TRUE(WriteSetting(store, QStringLiteral("Message1"), QStringLiteral("  hi  ")));
    EXPECT_EQ(store.values.value(QStringLiteral("Message1")), QStringLiteral("hi"));
    store.values[QStringLiteral("BlockText")] = QStringLiteral("  走开 ");
    EXPECT_EQ(ReadSetting(store, QStringLiteral("BlockText")), QStringLiteral("走开"));
    EXPECT_EQ(ReadSetting(store, QStringLiteral("Missing")), QString());
    store.failWrites = true;
    EXPECT_FALSE(WriteSetting(store, QStringLiteral("Message1"), QStringLiteral("x")));
}

TEST(SettingsStoreAccess, IniFileKeepsTheSettingsGroup) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrane/Kestrane.ini"));
    {
        IniSettingsStore store(path);
        ASSERT_TRUE(WriteSetting(store, QStringLiteral("NickName"), QStringLiteral(" 小王 ")));
        ASSERT_TRUE(WriteSetting(store, QStringLiteral("OtherInfo"), QStringLiteral("a\r\nb")));
        EXPECT_EQ(store.Folder(), dir.filePath(QStringLiteral("Kestrane")));
    }
    IniSettingsStore again(path);
    EXPECT_EQ(ReadSetting(again, QStringLiteral("NickName")), QStringLiteral("小王"));
    EXPECT_EQ(ReadSetting(again, QStringLiteral("OtherInfo")), QStringLiteral("a\r\nb"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("[Settings]"));
}
