#pragma once

#include <QObject>

namespace tvx {

// What a running copy is doing and what waits for its user. The engines report into it; the
// windows read it: the main window asks it before ending the program (what would be cut off)
// and blinks the tray icon while an offer or invitation waits.
class Activity : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool sendWindowSending() const { return sending_; }      // the send window's file flows
    bool mainWindowReceiving() const { return receiving_; }  // the main window's file flows
    bool inviteWindowChatting() const { return inviteWindowChatting_; }  // the invite window chats
    bool acceptWindowChatting() const { return acceptWindowChatting_; }  // the accept window chats
    bool offerWaiting() const { return offerWaiting_; }                  // a file offer waits
    bool invitationWaiting() const { return invitationWaiting_; }        // a chat invitation waits

    // Either chat window is chatting.
    bool chatting() const { return inviteWindowChatting_ || acceptWindowChatting_; }
    // An offer or an invitation waits for the user.
    bool waiting() const { return offerWaiting_ || invitationWaiting_; }

    void SetSendWindowSending(bool on) { Set(sending_, on); }
    void SetMainWindowReceiving(bool on) { Set(receiving_, on); }
    void SetInviteWindowChatting(bool on) { Set(inviteWindowChatting_, on); }
    void SetAcceptWindowChatting(bool on) { Set(acceptWindowChatting_, on); }
    void SetOfferWaiting(bool on) { Set(offerWaiting_, on); }
    void SetInvitationWaiting(bool on) { Set(invitationWaiting_, on); }

signals:
    // One of the values changed.
    void Changed();
    // Something began or ceased to wait for the user (after Changed).
    void WaitingChanged(bool waiting);

private:
    void Set(bool& value, bool on);

    bool sending_ = false;
    bool receiving_ = false;
    bool inviteWindowChatting_ = false;
    bool acceptWindowChatting_ = false;
    bool offerWaiting_ = false;
    bool invitationWaiting_ = false;
};

}  // namespace tvx
