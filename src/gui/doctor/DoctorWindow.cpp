#include "doctor/DoctorWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "protocol/CallerLink.h"
#include "session/Session.h"
#include "texts/DoctorTexts.h"

namespace tvx {

namespace {

QIcon VerdictIcon(const QStyle* style, Finding::Verdict verdict) {
    switch (verdict) {
        case Finding::Verdict::Error:
            return style->standardIcon(QStyle::SP_MessageBoxCritical);
        case Finding::Verdict::Warning:
            return style->standardIcon(QStyle::SP_MessageBoxWarning);
        default:
            return style->standardIcon(QStyle::SP_DialogApplyButton);
    }
}

QColor VerdictColor(Finding::Verdict verdict) {
    switch (verdict) {
        case Finding::Verdict::Error:
            return QColor(0xC0, 0x10, 0x10);
        case Finding::Verdict::Warning:
            return QColor(0xA0, 0x60, 0x00);
        default:
            return QColor(0x10, 0x70, 0x20);
    }
}

}  // namespace

DoctorWindow::DoctorWindow(Session& session, const QString& peer, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_peer(peer) {
    setObjectName(QStringLiteral("frmDoctor"));
    setWindowTitle(DoctorWindowTitle());
    resize(640, 420);

    m_lblDoctorState = new QLabel(this);
    m_lblDoctorState->setObjectName(QStringLiteral("lblDoctorState"));
    m_lblDoctorState->setWordWrap(true);
    m_lstFindings = new QListWidget(this);
    m_lstFindings->setObjectName(QStringLiteral("lstFindings"));
    m_lstFindings->setWordWrap(true);
    m_lstFindings->setSelectionMode(QAbstractItemView::NoSelection);
    m_lstFindings->setIconSize(QSize(16, 16));
    m_lstFindings->setSpacing(2);
    m_lstFindings->setFocusPolicy(Qt::NoFocus);
    m_cmdAgain = new QPushButton(QStringLiteral("重新诊断(&R)"), this);
    m_cmdAgain->setObjectName(QStringLiteral("cmdAgain"));
    m_cmdClose = new QPushButton(QStringLiteral("关闭(&C)"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdAgain);
    buttons->addWidget(m_cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblDoctorState);
    layout->addWidget(m_lstFindings, 1);
    layout->addLayout(buttons);

    connect(&m_doctor, &Doctor::FindingReady, this, &DoctorWindow::AddFinding);
    connect(&m_doctor, &Doctor::Finished, this, &DoctorWindow::ShowDone);
    connect(m_cmdAgain, &QPushButton::clicked, this, &DoctorWindow::Run);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void DoctorWindow::Run() {
    if (m_doctor.phase() == Doctor::Phase::Running)
        return;
    m_lstFindings->clear();
    m_lblDoctorState->setText(DoctorRunningText(m_peer));
    m_cmdAgain->setEnabled(false);
    m_doctor.Start(DoctorConfigOf(m_session, m_peer));
}

void DoctorWindow::AddFinding(const Finding& finding) {
    auto* item = new QListWidgetItem(VerdictIcon(style(), finding.verdict),
                                     DoctorFindingLine(finding), m_lstFindings);
    item->setForeground(VerdictColor(finding.verdict));
    item->setData(Qt::UserRole, int(finding.verdict));
}

void DoctorWindow::ShowDone() {
    m_lblDoctorState->setText(DoctorDoneText(m_doctor.findings()));
    m_cmdAgain->setEnabled(true);
}

namespace {

// A connection that could not be made or did not answer: what the doctor looks into. A bad
// address is not.
bool IsReachFailure(SocketError error) {
    const CallerFailure failure = ClassifyCallerError(error);
    return failure != CallerFailure::BadAddress && failure != CallerFailure::WrongState;
}

}  // namespace

bool OffersDoctor(const SendOutcome& outcome) {
    return outcome.kind == SendOutcome::Kind::HandshakeTimedOut ||
           outcome.kind == SendOutcome::Kind::RetriesUsedUp ||
           (outcome.kind == SendOutcome::Kind::NetworkError && IsReachFailure(outcome.error));
}

bool OffersDoctor(const InviteFailure& failure) {
    return failure.kind == InviteFailure::Kind::HandshakeTimedOut ||
           failure.kind == InviteFailure::Kind::RetriesUsedUp ||
           (failure.kind == InviteFailure::Kind::NetworkError && IsReachFailure(failure.error));
}

void ShowReachFailure(Session& session, QWidget* owner, const UserMessage& message,
                      const QString& peer) {
    MessageStyle style = MessageStyleOf(message.kind, message.systemModal);
    style.actionButton = DoctorButtonText();
    const MessageAnswer answer =
        session.messageBox().Show(owner, message.text, MessageTitle(message.kind), style);
    if (answer != MessageAnswer::Action)
        return;
    auto* window = new DoctorWindow(session, peer, owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->Run();
}

}  // namespace tvx
