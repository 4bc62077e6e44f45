#pragma once

#include <QWidget>
#include <array>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tvx {

struct Session;

// The personal-info window: the local addresses and the user's own card.
class PersonalInfoWindow : public QWidget {
    Q_OBJECT

public:
    explicit PersonalInfoWindow(Session& session, QWidget* parent = nullptr);

    // OK: checks the nickname, keeps and stores the card, then closes.
    void SaveCard();
    // A new TVX address for the same IP address ("变换本地TVX").
    void ChangeAddressCode();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CopyAddress(int index);
    QString OtherInfoText() const;

    Session& m_session;
    std::array<QLineEdit*, 9> m_txtLocalInfo{};  // boxes 1 to 8; box 9 is m_txtOtherInfo
    QPlainTextEdit* m_txtOtherInfo;
    QComboBox* m_cobSex;
    std::array<QPushButton*, 4> m_cmdDo{};  // buttons 1 to 3
};

}  // namespace tvx
