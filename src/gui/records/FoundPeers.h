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

// A found peer's item carries the peer's IPv4 address, its TVX address and its nickname in
// these roles; book entries and group headers carry none.
constexpr int kFoundPeerRole = Qt::UserRole + 1;
constexpr int kGroupHeaderRole = Qt::UserRole + 2;
constexpr int kFoundPeerCodeRole = Qt::UserRole + 3;
constexpr int kFoundPeerNameRole = Qt::UserRole + 4;

// What the list shows of a found peer: "名称 (IPv4 地址)", so that copies under one nickname
// can be told apart.
QString FoundPeerCaption(const PresencePeer& peer);
// The TVX address the peer announced, which a pick or a send uses; empty for other items.
QString AddressOfFoundPeer(const QListWidgetItem* item);
QString NickNameOfFoundPeer(const QListWidgetItem* item);

bool IsFoundPeerItem(const QListWidgetItem* item);
// A bold caption that cannot be selected, current or picked; it carries kGroupHeaderRole.
QListWidgetItem* NewGroupHeader(const QString& caption);

// Replaces the list's found-peer items by the peers given, inserted from row `at` on in the
// order given; a peer that was selected and is still there stays selected.
void ShowFoundPeers(QListWidget* list, int at, const QList<PresencePeer>& peers);

}  // namespace tvx
