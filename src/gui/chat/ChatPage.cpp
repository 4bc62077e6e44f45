#include "chat/ChatPage.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <limits>

#include "chat/Transcript.h"
#include "common/FontStyle.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"
#include "texts/SendTexts.h"

namespace tvx {

ChatPage::ChatPage(Session& session, quint32 inputColour, const QString& menuPrefix,
                   QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_rtxChat(new QTextEdit(this)),
      m_txtChatText(new QTextEdit(this)),
      m_lblChat(new QLabel(QStringLiteral("00:00:00"), this)),
      m_lblSecurity(new QLabel(this)),
      m_fontMenu(BuildFontMenu(menuPrefix, this)),
      m_transcriptMenu(BuildTranscriptMenu(menuPrefix, this)) {
    m_rtxChat->setObjectName(QStringLiteral("rtxChat"));
    PrepareTranscript(m_rtxChat);

    m_txtChatText->setObjectName(QStringLiteral("txtChatText"));
    PrepareInputBox(m_txtChatText, inputColour);
    m_txtChatText->setTabChangesFocus(true);
    m_txtChatText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtChatText->setFixedHeight(68);
    connect(m_txtChatText, &QTextEdit::textChanged, this, &ChatPage::LimitInput);
    m_txtChatText->installEventFilter(this);

    m_lblChat->setObjectName(QStringLiteral("lblChat"));
    m_lblSecurity->setObjectName(QStringLiteral("lblSecurity"));
    m_lblSecurity->setTextFormat(Qt::PlainText);
    m_lblSecurity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Cut at the page's edge rather than widening the window.
    m_lblSecurity->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    const char16_t* captions[] = {u"", u"发送(&S)", u"离开"};
    for (int index : {1, 2}) {
        m_cmdChatDo[index] = new QPushButton(QString::fromUtf16(captions[index]), this);
        m_cmdChatDo[index]->setObjectName(QStringLiteral("cmdChatDo%1").arg(index));
    }
    connect(m_cmdChatDo[1], &QPushButton::clicked, this, &ChatPage::SendClicked);
    connect(m_cmdChatDo[2], &QPushButton::clicked, this, &ChatPage::LeaveClicked);

    const ImageButton::Picture pictures[] = {ImageButton::PictureColour, ImageButton::PictureColour,
                                             ImageButton::PictureFont, ImageButton::PicturePeer};
    const char16_t* tips[] = {u"", u"文字颜色", u"字体", u"对方信息"};
    for (int index = 1; index <= 3; ++index) {
        m_chatButton[index] = new ImageButton(pictures[index], this);
        m_chatButton[index]->setObjectName(QStringLiteral("imgChatBtn%1").arg(index));
        m_chatButton[index]->setToolTip(QString::fromUtf16(tips[index]));
    }
    m_chatButton[1]->setSwatchColour(inputColour);
    connect(m_chatButton[1], &ImageButton::clicked, this, &ChatPage::ChooseColourClicked);
    connect(m_chatButton[2], &ImageButton::clicked, this, &ChatPage::PopUpFontMenu);
    connect(m_chatButton[3], &ImageButton::clicked, this, &ChatPage::PeerInfoClicked);

    AttachTranscriptMenu(m_session, this, m_rtxChat, m_transcriptMenu);
    AttachFontMenu(m_fontMenu, m_txtChatText);

    auto* tools = new QHBoxLayout;
    tools->setSpacing(2);
    for (int index = 1; index <= 3; ++index)
        tools->addWidget(m_chatButton[index]);
    tools->addSpacing(6);
    tools->addWidget(m_lblSecurity, 1);
    tools->addWidget(m_lblChat);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdChatDo[1]);
    buttons->addWidget(m_cmdChatDo[2]);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_rtxChat, 1);
    layout->addLayout(tools);
    layout->addWidget(m_txtChatText);
    layout->addLayout(buttons);
}

QString ChatPage::InputText() const {
    return ToWireText(m_txtChatText->toPlainText());
}

QString ChatPage::StyledInput() const {
    return FontStyleCode(m_txtChatText) + InputText();
}

void ChatPage::ClearInput() {
    m_txtChatText->clear();
}

void ChatPage::FocusInput() {
    m_txtChatText->setFocus();
}

void ChatPage::SendInput(bool peerPresent, const std::function<bool(const QString&)>& send) {
    if (!peerPresent) {
        ShowMessage(m_session.messageBox(), window(), PeerLeftCannotSendText(),
                    MessageKind::Warning, false);
        return;
    }
    if (TrimLines(InputText()).isEmpty()) {
        ClearInput();
        FocusInput();
        return;
    }
    const QString styled = StyledInput();
    if (!send(styled))
        return;
    ClearInput();
    AppendChatLine(m_rtxChat, m_session.personalInfo.nickName, styled, m_session.system().Now());
    FocusInput();
}

void ChatPage::ShowElapsed(qint64 seconds) {
    const qint64 limit = std::numeric_limits<qint32>::max();
    m_lblChat->setText(FormatClock(qint32(qBound(qint64(0), seconds, limit))));
}

void ChatPage::ShowSecurity(bool encrypted, const QByteArray& peerFingerprint) {
    m_lblSecurity->setText(EncryptionLine(encrypted, peerFingerprint));
}

void ChatPage::ChooseColourClicked() {
    if (ChooseInputColour(m_session.dialogs(), window(), m_txtChatText)) {
        const QColor colour = m_txtChatText->textColor();
        m_chatButton[1]->setSwatchColour(quint32(colour.red()) | (quint32(colour.green()) << 8) |
                                         (quint32(colour.blue()) << 16));
    }
}

void ChatPage::PopUpFontMenu() {
    m_fontMenu->popup(m_chatButton[2]->mapToGlobal(QPoint(0, m_chatButton[2]->height())));
    FocusInput();
}

bool ChatPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtChatText && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (enter && modifiers == Qt::ControlModifier) {
            // The button does nothing while it is disabled, as a click would.
            m_cmdChatDo[1]->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ChatPage::LimitInput() {
    if (m_limiting || m_txtChatText->document()->characterCount() - 1 <= kInputLimit)
        return;
    // Typing stops at the limit: what goes beyond it is taken away again.
    m_limiting = true;
    QTextCursor cursor(m_txtChatText->document());
    cursor.setPosition(kInputLimit);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_txtChatText->moveCursor(QTextCursor::End);
    m_limiting = false;
}

}  // namespace tvx
