#pragma once

#include <QObject>

namespace tvx {

// What a running copy is doing and what waits for its user. The engines and windows set it;
// the main window asks it before ending the program (what would be cut off) and blinks the
// tray icon while an offer or invitation waits.
class Activity : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool sending() const { return sending_; }                      // the send window sends
    bool receiving() const { return receiving_; }                  // the main window receives
    bool chatActive() const { return chatActive_; }                // the chat window chats
    bool chatInProgress() const { return chatInProgress_; }        // the accept window chats
    bool offerPending() const { return offerPending_; }            // a file offer waits
    bool invitationPending() const { return invitationPending_; }  // a chat invitation waits

    // Either chat window is chatting.
    bool chatting() const { return chatActive_ || chatInProgress_; }
    // An offer or an invitation waits for the user.
    bool waiting() const { return offerPending_ || invitationPending_; }

    void SetSending(bool on) { Set(sending_, on); }
    void SetReceiving(bool on) { Set(receiving_, on); }
    void SetChatActive(bool on) { Set(chatActive_, on); }
    void SetChatInProgress(bool on) { Set(chatInProgress_, on); }
    void SetOfferPending(bool on) { Set(offerPending_, on); }
    void SetInvitationPending(bool on) { Set(invitationPending_, on); }

signals:
    // One of the values changed.
    void Changed();
    // Something began or ceased to wait for the user (after Changed).
    void WaitingChanged(bool waiting);

private:
    void Set(bool& value, bool on);

    bool sending_ = false;
    bool receiving_ = false;
    bool chatActive_ = false;
    bool chatInProgress_ = false;
    bool offerPending_ = false;
    bool invitationPending_ = false;
};

}  // namespace tvx
