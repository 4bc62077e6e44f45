#pragma once

#include <QList>
#include <QString>
#include <Qt>

class QListWidget;
class QListWidgetItem;

namespace tvx {

struct PresencePeer;

// The group the copies found on the network are listed under, above the address book.
inline const QString kFoundPeersCaption = QStringLiteral("在线用户");
inline const QString kAddressBookCaption = QStringLiteral("地址簿");

// A found peer's item carries the peer's IPv4 address in this role; book entries and group
// headers carry none.
constexpr int kFoundPeerRole = Qt::UserRole + 1;
constexpr int kGroupHeaderRole = Qt::UserRole + 2;

// "名称|地址": the nickname and the TVX address the peer announced.
QString FoundPeerEntry(const PresencePeer& peer);
// A nickname is a stranger's and may hold "|": the address follows the last one.
QString AddressOfFoundPeerEntry(const QString& entry);
QString NickNameOfFoundPeerEntry(const QString& entry);

bool IsFoundPeerItem(const QListWidgetItem* item);
// A bold caption that cannot be selected, current or picked; it carries kGroupHeaderRole.
QListWidgetItem* NewGroupHeader(const QString& caption);

// Replaces the list's found-peer items by the peers given, inserted from row `at` on in the
// order given; a peer that was selected and is still there stays selected.
void ShowFoundPeers(QListWidget* list, int at, const QList<PresencePeer>& peers);

}  // namespace tvx
