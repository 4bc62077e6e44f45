#include "common/Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/System.h"

using namespace tvx;

TEST(PathRoutines, SplitsNameFolderBaseAndExtension) {
    EXPECT_EQ(FileNameOf(QStringLiteral("/a/b.tar.gz")), QStringLiteral("b.tar.gz"));
    EXPECT_EQ(FileNameOf(QStringLiteral("plain")), QStringLiteral("plain"));
    EXPECT_EQ(FolderOf(QStringLiteral("/a/b.tar.gz")), QStringLiteral("/a/"));
    EXPECT_EQ(FolderOf(QStringLiteral("plain")), QString());
    EXPECT_EQ(BaseNameOf(QStringLiteral("/a/b.tar.gz")), QStringLiteral("b.tar"));
    EXPECT_EQ(BaseNameOf(QStringLiteral("/a.d/readme")), QStringLiteral("readme"));
    EXPECT_EQ(ExtensionOf(QStringLiteral("/a/b.tar.gz")), QStringLiteral(".gz"));
    // A dot in the folder is not an extension; nor is a leading dot of the name.
    EXPECT_EQ(ExtensionOf(QStringLiteral("/a.d/readme")), QString());
    EXPECT_EQ(ExtensionOf(QStringLiteral("/a/.profile")), QString());
    EXPECT_EQ(ExtensionOf(QStringLiteral("/a/b.")), QStringLiteral("."));
}

TEST(PathRoutines, FileAndFolderTests) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("x.txt"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.close();

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(FileExists(QString()));

    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path() + QLatin1Char('/')));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_FALSE(FolderExists(dir.filePath(QStringLiteral("missing"))));
    // Only absolute local paths count; a "//" path stands for a network share.
    EXPECT_FALSE(FolderExists(QStringLiteral("/") + dir.path()));
    QDir::setCurrent(dir.path());
    EXPECT_FALSE(FolderExists(QStringLiteral(".")));

    EXPECT_TRUE(DeleteFileIfExists(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(DeleteFileIfExists(file));
}

TEST(PathRoutines, FileTimeTextIsZeroPadded) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("t.bin"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_TRUE(out.setFileTime(QDateTime(QDate(2007, 3, 5), QTime(8, 4, 9)),
                                QFileDevice::FileModificationTime));
    out.close();
    EXPECT_EQ(FileTimeText(file), QStringLiteral("2007-03-05 08:04:09"));
    EXPECT_EQ(FileTimeText(dir.filePath(QStringLiteral("none"))), QString());
}

TEST(CodePage, GbkBothWays) {
    EXPECT_EQ(ToAnsi(QStringLiteral("中文ab\r\n")), QByteArray("\xD6\xD0\xCE\xC4"
                                                               "ab\r\n"));
    EXPECT_EQ(FromAnsi(QByteArray("\xD6\xD0\xCE\xC4"
                                  "ab")),
              QStringLiteral("中文ab"));
    // What the code page cannot hold becomes "?", and the rest survives.
    EXPECT_EQ(ToAnsi(QStringLiteral("a😀b")), QByteArray("a??b"));
    EXPECT_EQ(FromAnsi(QByteArray("a\xFF"
                                  "b")),
              QStringLiteral("a?b"));
}
