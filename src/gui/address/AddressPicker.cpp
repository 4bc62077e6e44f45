#include "address/AddressPicker.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "presence/PresenceService.h"
#include "records/FoundPeers.h"
#include "session/Session.h"

namespace tvx {

AddressPicker::AddressPicker(Session& session, PickerPurpose purpose, PickHandler onPick,
                             QWidget* parent)
    : QWidget(parent, Qt::Tool),
      m_session(session),
      m_purpose(purpose),
      m_onPick(std::move(onPick)),
      m_label(new QLabel(QStringLiteral("双击下列地址作为目标地址:"), this)),
      m_lstUser(new QListWidget(this)) {
    setObjectName(QStringLiteral("AddressPicker"));
    setWindowTitle(QStringLiteral("地址簿列表"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_lstUser->setObjectName(QStringLiteral("lstUser"));
    connect(m_lstUser, &QListWidget::itemDoubleClicked, this, [this] { PickSelectedEntry(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_label);
    layout->addWidget(m_lstUser);
    resize(m_session.display.PixelsX(3600), m_session.display.PixelsY(3900));
}

void AddressPicker::LoadEntries() {
    LoadAddressBook(m_session, m_lstUser, this, false);
    PresenceService* presence = m_session.presence;
    if (!presence)
        return;
    ShowFoundPeers();
    for (auto signal : {&PresenceService::PeerAdded, &PresenceService::PeerUpdated,
                        &PresenceService::PeerRemoved})
        connect(presence, signal, this, &AddressPicker::ShowFoundPeers);
}

void AddressPicker::ShowFoundPeers() {
    if (!m_session.presence)
        return;
    for (int row = m_lstUser->count() - 1; row >= 0; --row) {
        if (m_lstUser->item(row)->data(kGroupHeaderRole).isValid())
            delete m_lstUser->takeItem(row);
    }
    const QList<PresencePeer> peers = m_session.presence->Peers();
    tvx::ShowFoundPeers(m_lstUser, 0, peers);
    // While copies are found the list has two headed groups, so that a book entry is never
    // taken for a copy on the network.
    if (!peers.isEmpty()) {
        m_lstUser->insertItem(0, NewGroupHeader(kFoundPeersCaption));
        m_lstUser->insertItem(int(peers.size()) + 1, NewGroupHeader(kAddressBookCaption));
    }
}

void AddressPicker::PickSelectedEntry() {
    const QListWidgetItem* item = m_lstUser->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString address =
        IsFoundPeerItem(item) ? AddressOfFoundPeer(item) : AddressOfEntry(item->text());
    const PickerPurpose purpose = m_purpose;
    m_purpose = PickerPurpose::None;
    if (m_onPick && purpose != PickerPurpose::None)
        m_onPick(purpose, address);
    Unload();
}

bool AddressPicker::event(QEvent* event) {
    // Clicking into another window closes the picker without changing anything.
    if (event->type() == QEvent::WindowDeactivate && isVisible())
        Unload();
    return QWidget::event(event);
}

void AddressPicker::Unload() {
    m_purpose = PickerPurpose::None;
    close();
}

AddressPicker* OpenAddressPicker(Session& session, QWidget* owner, PickerPurpose purpose,
                                 AddressPicker::PickHandler onPick) {
    auto* picker = new AddressPicker(session, purpose, std::move(onPick));
    picker->LoadEntries();
    if (owner) {
        const QRect frame = owner->frameGeometry();
        picker->move(frame.right() + 1, frame.top());
    }
    picker->show();
    picker->raise();
    picker->activateWindow();
    return picker;
}

void PickAddressFor(Session& session, QWidget* owner, PickerPurpose purpose,
                    QPointer<AddressPicker>& picker, std::function<void(const QString&)> take) {
    ShowAddressPicker(
        session, owner, purpose, [&session, &picker, take](QWidget* at, PickerPurpose opened) {
            if (picker)
                picker->close();
            picker =
                OpenAddressPicker(session, at, opened,
                                  [take](PickerPurpose, const QString& address) { take(address); });
        });
}

}  // namespace tvx
