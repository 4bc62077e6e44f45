#include "records/AddressFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "platform/System.h"
#include "presence/PresenceService.h"
#include "session/Session.h"

namespace tvx {

const QString kAddressBookFileName = QStringLiteral("Address.dat");
const QString kBlockListFileName = QStringLiteral("BlockAdrs.dat");

namespace {

const QString kProgramTitle = QStringLiteral("Tolvex");
const QString kAddressBookWriteFailed = QStringLiteral("将用户地址保存到地址簿时发生错误。");

// Only the first 31 characters of a line count, at most two bytes each; the rest of a longer
// line is read past in pieces of this size rather than held whole.
constexpr qint64 kLinePieceBytes = 1024;

// Calls onLine with every line of the file, decoded, without its line end, until onLine
// returns false. The file is closed when this returns. False when the file cannot be read.
bool ForEachLine(const QString& path, const std::function<bool(const QString&)>& onLine) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(kLinePieceBytes);
        bool ended = line.endsWith('\n');
        while (!ended && !file.atEnd())
            ended = file.readLine(kLinePieceBytes).endsWith('\n');
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!onLine(FromAnsi(line)))
            break;
    }
    return true;
}

LoadedEntries ReadEntries(const QString& path, int lineLength,
                          const std::function<bool(const QString&)>& isValid) {
    LoadedEntries loaded;
    ForEachLine(path, [&](const QString& line) {
        const QString entry = TrimSpaces(line.left(lineLength));
        if (!isValid(entry))
            return true;
        if (loaded.entries.size() >= kMaxListEntries) {
            loaded.overLimit = true;
            return false;
        }
        loaded.entries.append(entry);
        return true;
    });
    return loaded;
}

QByteArray LinesBytes(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return ToAnsi(text);
}

// Replaces the file through a temporary copy, so that a failed write keeps the old lists.
bool WriteLines(const QString& path, const QStringList& lines, QString* error) {
    QSaveFile file(path);
    const QByteArray bytes = LinesBytes(lines);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        return true;
    }
    if (error)
        *error = file.errorString();
    return false;
}

// Appends one line, first ending an unfinished last line so that the two do not merge.
bool AppendLine(const QString& path, const QString& line, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        *error = file.errorString();
        return false;
    }
    QByteArray bytes = LinesBytes({line});
    if (file.size() > 0 && file.seek(file.size() - 1) && file.read(1) != "\n") {
        bytes.prepend("\r\n");
    }
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    *error = file.errorString();
    return false;
}

// Rewrites the file with its line `target` (counted from 0 as ForEachLine counts) replaced,
// every other byte kept. Read and written in pieces, as ForEachLine reads.
bool ReplaceLine(const QString& path, int target, const QString& line, QString* error) {
    QFile in(path);
    QSaveFile out(path);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    int index = 0;
    bool replaced = false;
    while (!in.atEnd()) {
        const QByteArray piece = in.readLine(kLinePieceBytes);
        QByteArray bytes = piece;
        if (index == target) {
            bytes = replaced ? QByteArray() : LinesBytes({line});
            replaced = true;
        }
        if (out.write(bytes) != bytes.size())
            break;
        if (piece.endsWith('\n'))
            ++index;
    }
    if (in.error() == QFileDevice::NoError && replaced && out.commit())
        return true;
    *error = in.error() != QFileDevice::NoError ? in.errorString() : out.errorString();
    return false;
}

// The load rule's test of a cut and trimmed address-book line.
bool IsAddressBookEntry(const QString& entry) {
    const QStringList parts = entry.split(QLatin1Char('|'));
    return parts.size() == 2 && !ResolvePeerAddress(parts[1]).isEmpty();
}

// Among the entries a load shows, the first that stands for the IPv4 address: its line
// (counted from 0 as ForEachLine counts) and its entry; -1 when there is none.
int FindLineOfAddress(const QString& path, const QString& ipv4, QString* entryFound) {
    int found = -1;
    int line = 0;
    int entries = 0;
    ForEachLine(path, [&](const QString& text) {
        const QString entry = TrimSpaces(text.left(kAddressLineLength));
        if (IsAddressBookEntry(entry)) {
            if (++entries > kMaxListEntries)
                return false;
            if (!ipv4.isEmpty() && ResolvePeerAddress(AddressOfEntry(entry)) == ipv4) {
                found = line;
                *entryFound = entry;
                return false;
            }
        }
        ++line;
        return true;
    });
    return found;
}

bool HoldsIgnoringCase(const QStringList& items, const QString& text) {
    return items.contains(text, Qt::CaseInsensitive);
}

}  // namespace

LoadedEntries ReadBlockListFile(const QString& path) {
    return ReadEntries(path, kBlockLineLength,
                       [](const QString& entry) { return !ResolvePeerAddress(entry).isEmpty(); });
}

LoadedEntries ReadAddressBookFile(const QString& path) {
    return ReadEntries(path, kAddressLineLength, IsAddressBookEntry);
}

void LoadBlockList(Session& session, QWidget* owner) {
    const LoadedEntries loaded = ReadBlockListFile(session.appFolder + kBlockListFileName);
    session.blockList = loaded.entries;
    if (loaded.overLimit) {
        session.messageBox().Show(
            owner, QStringLiteral("屏蔽地址数量已超过最大限制500个,超出部分将被忽略。"),
            kProgramTitle, MessageStyleOf(MessageKind::Warning));
    }
}

bool IsBlocked(const QStringList& blockList, const QString& peerAddress) {
    const QString peer = ResolvePeerAddress(peerAddress);
    if (peer.isEmpty())
        return false;
    for (const QString& entry : blockList) {
        if (ResolvePeerAddress(entry) == peer)
            return true;
    }
    return false;
}

QString AddressOfEntry(const QString& itemText) {
    const int bar = itemText.indexOf(QLatin1Char('|'));
    return bar <= 0 ? QString() : itemText.mid(bar + 1);
}

QString WithoutControls(const QString& text) {
    QString result;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            result += c;
    }
    return result;
}

bool SaveAddressBook(const QString& appFolder, const QStringList& entries, QString* error) {
    return WriteLines(appFolder + kAddressBookFileName, entries, error);
}

bool SaveBlockList(Session& session, const QStringList& entries, QString* error) {
    session.blockList = entries;
    return WriteLines(session.appFolder + kBlockListFileName, entries, error);
}

bool RefuseDuplicateBlockEntry(MessageBoxService& box, QWidget* owner, const QStringList& items,
                               const QString& address) {
    if (!HoldsIgnoringCase(items, address))
        return false;
    ShowMessage(box, owner, QStringLiteral("地址在列表中已存在。"), MessageKind::Warning, false);
    return true;
}

bool RefuseDuplicateAddressEntry(MessageBoxService& box, QWidget* owner, const QStringList& items,
                                 const QString& name, const QString& address) {
    if (!HoldsIgnoringCase(items, name + QLatin1Char('|') + address))
        return false;
    ShowMessage(box, owner, QStringLiteral("输入的地址已存在地址簿中。"), MessageKind::Warning,
                false);
    return true;
}

int FindEntryOfAddress(const QStringList& entries, const QString& address) {
    const QString wanted = ResolvePeerAddress(address);
    if (wanted.isEmpty())
        return -1;
    for (int row = 0; row < entries.size(); ++row) {
        if (ResolvePeerAddress(AddressOfEntry(entries[row])) == wanted)
            return row;
    }
    return -1;
}

bool AskToUpdateEntry(MessageBoxService& box, QWidget* owner, const QString& existing,
                      const QString& replacement) {
    const QString question = QStringLiteral("该地址已存在地址簿中: \"") + existing +
                             QStringLiteral("\"") + QStringLiteral("\r\n") +
                             QStringLiteral("是否将该项更新为 \"") + replacement +
                             QStringLiteral("\" ？");
    return ShowMessage(box, owner, question, MessageKind::Ask, false) == MessageAnswer::Yes;
}

bool BlockPeer(Session& session, QWidget* owner, const QString& peerAddress) {
    // A line break from the peer would become extra lines of the block-list file.
    const QString address = WithoutControls(peerAddress);
    if (session.blockList.contains(address)) {
        ShowMessage(session.messageBox(), owner, QStringLiteral("该地址已存在屏蔽列表中。"),
                    MessageKind::Warning, false);
        return false;
    }
    session.blockList.append(address);
    ShowMessage(session.messageBox(), owner, QStringLiteral("屏蔽地址操作成功。"),
                MessageKind::Info, false);
    return true;
}

QString PeerAddressBookLine(const QString& nickName, const QString& peerAddress) {
    // The nickname and address come from the peer: a line break would add lines of its
    // choosing, and a line longer than a load reads would never show in the book.
    const QString address = WithoutControls(peerAddress);
    QString name = WithoutControls(nickName).remove(QLatin1Char('|'));
    name.truncate(qMax(0, kAddressLineLength - 1 - int(address.size())));
    return name + QLatin1Char('|') + address;
}

bool AddPeerToAddressBook(Session& session, QWidget* owner, const QString& nickName,
                          const QString& peerAddress) {
    const QString path = session.appFolder + kAddressBookFileName;
    const QString line = PeerAddressBookLine(nickName, peerAddress);
    bool present = false;
    ForEachLine(path, [&](const QString& existing) {
        present = TrimSpaces(existing.left(kAddressLineLength)) == line;
        return !present;
    });
    if (present) {
        ShowMessage(session.messageBox(), owner, QStringLiteral("该地址已存在地址簿中。"),
                    MessageKind::Warning, false);
        return false;
    }
    QString sameEntry;
    const int sameLine =
        FindLineOfAddress(path, ResolvePeerAddress(WithoutControls(peerAddress)), &sameEntry);
    QString error;
    if (sameLine >= 0) {
        if (!AskToUpdateEntry(session.messageBox(), owner, sameEntry, line))
            return false;
        if (!ReplaceLine(path, sameLine, line, &error)) {
            ShowMessage(session.messageBox(), owner,
                        kAddressBookWriteFailed + QStringLiteral("\r\n\r\n") + error,
                        MessageKind::Error, false);
            return false;
        }
        ShowMessage(session.messageBox(), owner, QStringLiteral("更新地址操作成功。"),
                    MessageKind::Info, false);
        return true;
    }
    if (!AppendLine(path, line, &error)) {
        ShowMessage(session.messageBox(), owner,
                    kAddressBookWriteFailed + QStringLiteral("\r\n\r\n") + error,
                    MessageKind::Error, false);
        return false;
    }
    ShowMessage(session.messageBox(), owner, QStringLiteral("添加地址操作成功。"),
                MessageKind::Info, false);
    return true;
}

}  // namespace tvx
