#pragma once

#include <QDateTime>
#include <QString>

#include "chat/ChatResponder.h"
#include "platform/SocketErrors.h"
#include "texts/UserMessage.h"
#include "transfer/FileReceiveEngine.h"

namespace tvx {

// The receiving side's words: what the main window's page, the chat accept window and the
// receive command show for the engines' outcomes.

// The message for an outcome that is reported (SenderCancelled has its page and lines of its
// own and gives an empty message).
UserMessage ReceiveMessage(const ReceiveOutcome& outcome);

// The message for what the answering side of a chat reports.
UserMessage ChatAnswerMessage(const ChatAnswerOutcome& outcome);

// A listener could not be started (file or chat ports); the program ends after it.
UserMessage ListenerFailureMessage(SocketError error);

// "The sender cancelled the file ..., so much has been received."
QString SenderCancelledLine(const QString& peerName, const QString& fileName, double share);

// A file received whole: from whom, where it went, when it finished (H:mm:ss) and how long
// it took; lineBreak separates the three parts.
QString ReceivedText(const QString& peerName, const QString& path, const QString& finishTime,
                     qint64 elapsedSeconds, const QString& lineBreak);

// The heading of an offer that arrived at the given time: "received a file (time)".
QString OfferArrivedText(const QDateTime& when);
// How much of the file is already here, ahead of the question or notice about resuming.
QString HeldShareText(double share);

// A note as shown: EmptyNoteText() when it holds nothing but spaces.
QString NoteOrNone(const QString& note);

}  // namespace tvx
