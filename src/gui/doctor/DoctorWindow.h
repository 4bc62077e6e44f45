#pragma once

#include <QWidget>

#include "chat/InviteFailure.h"
#include "doctor/Doctor.h"
#include "texts/UserMessage.h"
#include "transfer/SendOutcome.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace tvx {

struct Session;

// The doctor's findings on this computer and one peer, each with its verdict, as they come.
// Opened from a failure message's "诊断..." button; it runs the doctor when shown and again on
// "重新诊断".
class DoctorWindow : public QWidget {
    Q_OBJECT

public:
    DoctorWindow(Session& session, const QString& peer, QWidget* parent = nullptr);

    // Runs the doctor anew (not while it runs).
    void Run();
    Doctor& doctor() { return m_doctor; }
    const QString& peer() const { return m_peer; }

private:
    void AddFinding(const Finding& finding);
    void ShowDone();

    Session& m_session;
    QString m_peer;
    Doctor m_doctor;
    QLabel* m_lblDoctorState;
    QListWidget* m_lstFindings;
    QPushButton* m_cmdAgain;
    QPushButton* m_cmdClose;
};

// Whether a send's or an invitation's end is a failure to reach the peer, whose message
// offers the doctor.
bool OffersDoctor(const SendOutcome& outcome);
bool OffersDoctor(const InviteFailure& failure);

// Shows a failure to reach the peer (dotted address) with a further button "诊断..." that opens
// a DoctorWindow on it, owned by `owner`.
void ShowReachFailure(Session& session, QWidget* owner, const UserMessage& message,
                      const QString& peer);

}  // namespace tvx
