#pragma once

#include <QString>

#include "chat/InviteFailure.h"
#include "doctor/Finding.h"
#include "protocol/BatchMessages.h"
#include "protocol/PeerLink.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/SendOutcome.h"
#include "web/WebServer.h"

namespace tvx {

// How a chat command ended, besides the invitation's failures.
enum class ChatEnding {
    Left,         // this side left (end of input or Ctrl+C)
    PeerLeft,     // the peer left the room
    Refused,      // the peer's user said no
    AutoRefused,  // the peer said no by itself
    Cancelled,    // Ctrl+C before the peer answered
    Dropped,      // the connection ended without a word
};

// The stable kebab-case names that --json output gives the engines' outcomes and their data;
// scripts compare them, so a name once given does not change.
QString OutcomeName(SendOutcome::Kind kind);
QString OutcomeName(ReceiveOutcome::Kind kind);
QString OutcomeName(InviteFailure::Kind kind);
QString OutcomeName(ChatEnding ending);
QString EventName(WebEvent::Kind kind);
QString StartFailureName(WebServer::StartFailure failure);
QString RefusalName(LinkRefusal refusal);
QString SocketErrorName(SocketError error);
QString FileProblemName(FileProblem problem);
QString BatchStopName(BatchStopReason reason);
QString FindingKindName(Finding::Kind kind);
QString VerdictName(Finding::Verdict verdict);
QString PortStateName(Finding::PortState state);
QString HandshakeName(Finding::HandshakeResult result);

}  // namespace tvx
