#pragma once

#include <QMenu>
#include <QStringList>
#include <QWidget>
#include <array>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tvx {

struct Session;

// The address book window: named peer addresses from "Address.dat", edited in its list and
// written back only by its save button. Its context menu starts a file send or a chat
// invitation to an entry. Above the book, the copies found on the network are listed under
// "在线用户" while the presence service runs; their menu also adds one to the book's list. It
// deletes itself when it closes; with unsaved edits it first asks whether to save them.
class AddressBookWindow : public QWidget {
    Q_OBJECT

public:
    explicit AddressBookWindow(Session& session, QWidget* parent = nullptr);

    // Fills the list from the file and updates the count line.
    void LoadEntries();

    // Handlers, public so that tests can drive them as the user would.
    // The buttons under the list; only SaveBook writes the file.
    void AddEntry();
    void EditEntry();
    void DeleteEntries();
    void InvertEntrySelection();
    void SaveBook();
    // A right click on the list: enables the menu entries for the selection and pops it up.
    void ShowContextMenu(const QPoint& globalPos);
    // The list's menu: a file send or a chat invitation to the first selected entry.
    void SendFileToEntry();
    void InviteEntry();
    // The found copies' list: a right click pops up its menu for the selected copy.
    void ShowFoundPeerMenu(const QPoint& globalPos);
    void SendFileToFoundPeer();
    void InviteFoundPeer();
    // Adds the selected found copy to the book's list as "名称|地址", under the rules of the
    // add button; the save button writes it to the file. An entry for the same IPv4 address
    // under an earlier code is offered for updating instead.
    void AddFoundPeerToBook();
    // The list differs from the file as last loaded or saved.
    bool HasUnsavedChanges() const;

    QAction* mnuFile() const { return m_mnuFile; }
    QAction* mnuChat() const { return m_mnuChat; }
    QMenu* ContextMenu() { return &m_mnuList; }
    QMenu* FoundPeerMenu() { return &m_mnuOnline; }

signals:
    // The context menu's entries, with the entry's address as stored.
    void SendFileRequested(const QString& address);
    void InvitationRequested(const QString& address);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Writes the list to the file; false (after telling the user) when that fails.
    bool WriteBook();
    void UpdateCount();
    // The name and address boxes, trimmed and without control characters; false (after
    // telling the user) when they cannot make an entry. nameEmptyText differs between adding
    // and editing.
    bool TakeInput(const QString& nameEmptyText, QString* entry);
    QString SelectedAddress() const;
    QString SelectedFoundPeerAddress() const;
    void ShowFoundPeers();

    Session& m_session;
    QLabel* m_lblAdrs;
    QListWidget* m_lstAdrs;
    std::array<QLineEdit*, 3> m_txtInputAdress{};  // 1 name, 2 address
    std::array<QPushButton*, 6> m_cmdAdrs{};       // 1 to 5
    QMenu m_mnuList;
    QAction* m_mnuFile;
    QAction* m_mnuChat;
    QLabel* m_lblOnline;
    QListWidget* m_lstOnline;
    QMenu m_mnuOnline;
    QStringList m_savedEntries;  // the file's entries as last loaded or saved
};

}  // namespace tvx
