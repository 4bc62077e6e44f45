#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "records/AddressFiles.h"
#include "records/AddressLists.h"

class QLabel;
class QListWidget;

namespace tvx {

struct Session;

// The address picker: lists the copies found on the network under "在线用户", then the address
// book, so that a double click fills the peer address of the send window or of the chat
// window. The found copies follow the presence service while the picker is open. It lives
// only until it has done its work or loses the focus.
class AddressPicker : public QWidget {
    Q_OBJECT

public:
    // Receives the picked address exactly as stored, for the window the purpose names.
    using PickHandler = std::function<void(PickerPurpose purpose, const QString& address)>;

    AddressPicker(Session& session, PickerPurpose purpose, PickHandler onPick,
                  QWidget* parent = nullptr);

    // Fills the list: the found copies in a group of their own while there are any, then the
    // address book (at most 500 entries, no message beyond them).
    void LoadEntries();
    // Hands the selected entry's address to the window that opened the picker and closes.
    void PickSelectedEntry();
    PickerPurpose purpose() const { return m_purpose; }

protected:
    bool event(QEvent* event) override;

private:
    void Unload();
    void ShowFoundPeers();

    Session& m_session;
    PickerPurpose m_purpose;
    PickHandler m_onPick;
    QLabel* m_label;
    QListWidget* m_lstUser;
};

// Opens a picker for the purpose beside the owner, replacing one that is still open. The
// picker deletes itself when it closes.
AddressPicker* OpenAddressPicker(Session& session, QWidget* owner, PickerPurpose purpose,
                                 AddressPicker::PickHandler onPick);

// The address-book button of the send and the chat windows: when the address book has
// entries, a picker for the purpose opens beside the owner in place of the window's last one
// (kept in picker), and the picked address goes to take.
void PickAddressFor(Session& session, QWidget* owner, PickerPurpose purpose,
                    QPointer<AddressPicker>& picker, std::function<void(const QString&)> take);

}  // namespace tvx
