#pragma once

#include <QByteArray>
#include <QStringList>
#include <QWidget>
#include <array>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tvx {

struct Session;

// The peer-info window: the card a peer sent, read-only, with buttons to keep the peer in
// the address book or to block it.
class PeerInfoWindow : public QWidget {
    Q_OBJECT

public:
    explicit PeerInfoWindow(Session& session, QWidget* parent = nullptr);

    // Fills the boxes from the nine received fields: TVX address, then the eight card fields.
    void Fill(const QStringList& peerFields);
    // The connection's line: the peer's fingerprint code, or that it is not encrypted (empty).
    void ShowFingerprint(const QByteArray& fingerprint);
    // The buttons ask first, then keep the peer in the address book or block it.
    void AddToAddressBook();
    void AddToBlockList();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Session& m_session;
    std::array<QLineEdit*, 9> m_txtGuestInfo{};  // boxes 1 to 8; box 9 is m_txtOtherInfo
    QPlainTextEdit* m_txtOtherInfo;
    QLineEdit* m_txtFingerprint;
    std::array<QPushButton*, 4> m_cmdDo{};
};

// The word for a sex code of the card ("0", "1", "2"); empty for anything else.
QString SexWord(const QString& code);

// Shows the peer's card in a new peer-info window beside the window that asks for it, with the
// fingerprint of the certificate the peer showed on its connection (empty: not encrypted).
PeerInfoWindow* ShowPeerInfo(Session& session, const QStringList& peerFields,
                             const QByteArray& fingerprint);

}  // namespace tvx
