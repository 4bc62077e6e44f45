#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tvx {

class MessageBoxService;
struct Session;

// The address book ("name|address" lines) and the block list (one address a line), in the
// program's folder, GBK with "\r\n" line ends.
extern const QString kAddressBookFileName;  // "Address.dat"
extern const QString kBlockListFileName;    // "BlockAdrs.dat"

constexpr int kMaxListEntries = 500;
constexpr int kBlockLineLength = 15;    // characters of a block-list line that count
constexpr int kAddressLineLength = 31;  // characters of an address-book line that count

// Entries read by a load rule; overLimit when a valid entry beyond the 500th was met.
struct LoadedEntries {
    QStringList entries;
    bool overLimit = false;
};

// Each line cut to 15 characters, trimmed of spaces, kept when it resolves to an address;
// reading stops at the first valid line beyond 500. An absent file gives no entries.
LoadedEntries ReadBlockListFile(const QString& path);

// Each line cut to 31 characters and trimmed, kept when it splits at "|" into exactly two
// parts of which the second resolves; reading stops at the first valid line beyond 500.
LoadedEntries ReadAddressBookFile(const QString& path);

// Start-up: fills the session's block list, and says so once when entries were dropped.
void LoadBlockList(Session& session, QWidget* owner);

// True when an entry of the block list, resolved, is the peer's address. The peer address
// comes from the socket; it is resolved too, so leading zeros cannot slip past.
bool IsBlocked(const QStringList& blockList, const QString& peerAddress);

// The text after the first "|" of an address-book entry; empty when there is no "|" or it
// is the first character.
QString AddressOfEntry(const QString& itemText);

// The text without control characters, so that it cannot break a line of the lists.
QString WithoutControls(const QString& text);

// Save rules. Each replaces the whole file, and leaves the old file in place when the write
// fails (error says why).
bool SaveAddressBook(const QString& appFolder, const QStringList& entries, QString* error);
// Options dialog OK: the entries become the in-memory block list, then the file.
bool SaveBlockList(Session& session, const QStringList& entries, QString* error);

// Duplicate rules of the adding windows. Each warns, owned by the window, and returns true when
// the new entry must be refused.
// Block-list page: the typed address equals an entry, letter case ignored.
bool RefuseDuplicateBlockEntry(MessageBoxService& box, QWidget* owner, const QStringList& items,
                               const QString& address);
// Address-book window, add and edit: name|address equals an entry, letter case ignored.
bool RefuseDuplicateAddressEntry(MessageBoxService& box, QWidget* owner, const QStringList& items,
                                 const QString& name, const QString& address);

// The TVX address is drawn afresh at every start, so one person comes back under new codes.
// The first entry ("name|address") whose address stands for the same IPv4 address as the
// given one, codes decoded; -1 when there is none.
int FindEntryOfAddress(const QStringList& entries, const QString& address);
// Says that the book holds the address already, as `existing`, and asks whether that entry
// is to become `replacement`. True when the user says yes.
bool AskToUpdateEntry(MessageBoxService& box, QWidget* owner, const QString& existing,
                      const QString& replacement);

// Peer-info window, after the user has said yes. Adds the peer's TVX address to the in-memory
// block list unless it is there exactly; the file follows at the next options OK.
bool BlockPeer(Session& session, QWidget* owner, const QString& peerAddress);
// Appends "nickname|address" to the address book unless a line (cut and trimmed) is exactly
// the same, creating the file when missing. When an entry stands for the same IPv4 address
// under another line, offers to replace that line instead (AskToUpdateEntry). Reports the
// outcome to the user.
bool AddPeerToAddressBook(Session& session, QWidget* owner, const QString& nickName,
                          const QString& peerAddress);

// The address-book line for a peer: "|" and control characters removed from the nickname and
// control characters from the address, and the nickname shortened so that the line stays
// within the characters a load reads.
QString PeerAddressBookLine(const QString& nickName, const QString& peerAddress);

}  // namespace tvx
