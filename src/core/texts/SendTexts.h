#pragma once

#include <QString>

#include "chat/InviteFailure.h"
#include "protocol/PeerLink.h"
#include "texts/UserMessage.h"
#include "transfer/SendOutcome.h"

namespace tvx {

// What the caller's user reads when an answerer turns it away in the handshake, or when this
// end turns the answerer away for its encryption (`pinned`, `shown`: the certificate pinned
// before and the one shown, for IdentityChanged).
QString LinkRefusalText(LinkRefusal refusal, const QString& note,
                        const QByteArray& pinned = QByteArray(),
                        const QByteArray& shown = QByteArray());
// What a caller shows when the peer sends a code it does not expect.
QString ConnectionBrokenText();

// Why the file cannot be sent, in the box it goes in.
UserMessage FileProblemMessage(FileProblem problem, const QString& path);

// The message box that ends a send; empty for the outcomes that show a page of their own
// (completed, refused, cancelled by the receiver) and for the silent ones.
UserMessage SendFailureMessage(const SendOutcome& outcome);
// The message box that closes an invitation or a chat.
UserMessage InviteFailureMessage(const InviteFailure& failure);

// The line and the note of a page that ends a send (completed, refused, cancelled by the
// receiver).
QString SendOutcomeLine(const SendOutcome& outcome);
QString SendOutcomeNote(const SendOutcome& outcome);

// Step 1 and step 3 of connecting, as the send window and the command line say them.
QString SendConnectingLine(const QString& peer);
QString SendWaitingForAnswerLine();

// The connecting page's status line while the peer's user decides, and after a retry.
QString SendWaitedLine(qint64 seconds);
QString SendTriedLine(int attempts);

// The chat invitation's progress and refusals, as the invite window and the chat command
// show them.
QString InviteWaitingForAnswerLine();
QString InviteRefusedLine(const QString& peer);
QString InviteAutoRefusedLine(const QString& peer);
// Stands for the note of an automatic refusal, which is not shown.
QString InviteAutoRefusedNote();
// A text typed after the peer has left the chat.
QString PeerLeftCannotSendText();

}  // namespace tvx
