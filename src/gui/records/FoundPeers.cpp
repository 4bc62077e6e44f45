#include "records/FoundPeers.h"

#include <QListWidget>
#include <QSet>

#include "presence/PresenceService.h"
#include "records/AddressFiles.h"

namespace tvx {

QString FoundPeerCaption(const PresencePeer& peer) {
    // The nickname is a stranger's: no control character breaks the list's line.
    return WithoutControls(peer.nickName) + QStringLiteral(" (") + peer.ipv4 + QLatin1Char(')');
}

QString AddressOfFoundPeer(const QListWidgetItem* item) {
    return item ? item->data(kFoundPeerCodeRole).toString() : QString();
}

QString NickNameOfFoundPeer(const QListWidgetItem* item) {
    return item ? item->data(kFoundPeerNameRole).toString() : QString();
}

bool IsFoundPeerItem(const QListWidgetItem* item) {
    return item && item->data(kFoundPeerRole).isValid();
}

QListWidgetItem* NewGroupHeader(const QString& caption) {
    auto* header = new QListWidgetItem(caption);
    header->setFlags(Qt::NoItemFlags);
    header->setData(kGroupHeaderRole, true);
    QFont font = header->font();
    font.setBold(true);
    header->setFont(font);
    header->setForeground(QBrush(QColor(0x40, 0x40, 0x40)));
    return header;
}

void ShowFoundPeers(QListWidget* list, int at, const QList<PresencePeer>& peers) {
    QSet<QString> selected;
    QString current;
    for (int row = list->count() - 1; row >= 0; --row) {
        QListWidgetItem* item = list->item(row);
        if (!IsFoundPeerItem(item))
            continue;
        const QString ipv4 = item->data(kFoundPeerRole).toString();
        if (item->isSelected())
            selected.insert(ipv4);
        if (item == list->currentItem())
            current = ipv4;
        delete list->takeItem(row);
    }
    at = qBound(0, at, list->count());
    for (const PresencePeer& peer : peers) {
        auto* item = new QListWidgetItem(FoundPeerCaption(peer));
        item->setData(kFoundPeerRole, peer.ipv4);
        item->setData(kFoundPeerCodeRole, peer.addressCode);
        item->setData(kFoundPeerNameRole, peer.nickName);
        item->setToolTip(QStringLiteral("TVX: ") + peer.addressCode);
        list->insertItem(at, item);
        if (peer.ipv4 == current)
            list->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        item->setSelected(selected.contains(peer.ipv4));
        ++at;
    }
}

}  // namespace tvx
