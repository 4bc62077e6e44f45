#include "common/AutoRun.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/Fakes.h"

using namespace tvx;

TEST(AutoRun, SetAndClearTheStartUpEntry) {
    QTemporaryDir dir;
    XdgAutoStartList list(dir.filePath(QStringLiteral("autostart")));
    const QString program = QStringLiteral("/opt/my tools/$HOME \"q\"/tolvex");

    EXPECT_FALSE(IsAutoRunSet(list, program));
    SetAutoRun(list, program, true);
    const QString entry = dir.filePath(QStringLiteral("autostart/Kestrane.desktop"));
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_EQ(RegReadString(list, QStringLiteral("Kestrane")), program);
    EXPECT_TRUE(IsAutoRunSet(list, program));
    // A copy in another folder sees automatic start as off.
    EXPECT_FALSE(IsAutoRunSet(list, QStringLiteral("/elsewhere/tolvex")));

    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("Exec=\"/opt/my tools/\\$HOME \\\"q\\\"/tolvex\"\n"));
    file.close();

    SetAutoRun(list, program, false);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(IsAutoRunSet(list, program));
    // Clearing an entry that is not there is harmless.
    SetAutoRun(list, program, false);
    EXPECT_EQ(RegReadString(list, QStringLiteral("Kestrane")), QString());
}
