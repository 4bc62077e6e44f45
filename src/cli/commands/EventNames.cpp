#include "commands/EventNames.h"

// Every enumerator has its name: one added without one fails the build.
#pragma GCC diagnostic error "-Wswitch"

namespace tvx {

QString OutcomeName(SendOutcome::Kind kind) {
    using Kind = SendOutcome::Kind;
    switch (kind) {
        case Kind::Completed:
            return QStringLiteral("done");
        case Kind::Refused:
            return QStringLiteral("refused");
        case Kind::AutoRefused:
            return QStringLiteral("auto-refused");
        case Kind::PeerCancelled:
            return QStringLiteral("peer-cancelled");
        case Kind::Cancelled:
            return QStringLiteral("cancelled");
        case Kind::Dropped:
            return QStringLiteral("connection-dropped");
        case Kind::LinkRefused:
            return QStringLiteral("link-refused");
        case Kind::ProtocolBroken:
            return QStringLiteral("protocol-error");
        case Kind::HandshakeTimedOut:
            return QStringLiteral("handshake-timeout");
        case Kind::NetworkError:
            return QStringLiteral("network-error");
        case Kind::FileProblem:
            return QStringLiteral("file-problem");
        case Kind::ReadFailed:
            return QStringLiteral("read-failed");
        case Kind::RetriesUsedUp:
            return QStringLiteral("retries-used-up");
        case Kind::Stalled:
            return QStringLiteral("stalled");
        case Kind::BatchStopped:
            return QStringLiteral("batch-stopped");
    }
    return QString();
}

QString OutcomeName(ReceiveOutcome::Kind kind) {
    using Kind = ReceiveOutcome::Kind;
    switch (kind) {
        case Kind::SenderCancelled:
            return QStringLiteral("peer-cancelled");
        case Kind::WriteFailed:
            return QStringLiteral("write-failed");
        case Kind::TooManyBytes:
            return QStringLiteral("too-many-bytes");
        case Kind::RenameFailed:
            return QStringLiteral("rename-failed");
        case Kind::ReplaceFailedRenamed:
            return QStringLiteral("replace-failed-renamed");
        case Kind::TempFileNotReplaced:
            return QStringLiteral("temp-file-not-replaced");
        case Kind::AutoSaveFolderMissing:
            return QStringLiteral("folder-missing");
        case Kind::ConnectionLost:
            return QStringLiteral("connection-lost");
        case Kind::NetworkError:
            return QStringLiteral("network-error");
        case Kind::Stalled:
            return QStringLiteral("stalled");
        case Kind::ListenerFailed:
            return QStringLiteral("listener-failed");
        case Kind::HistoryNotWritten:
            return QStringLiteral("history-not-written");
        case Kind::BatchRefused:
            return QStringLiteral("batch-refused");
        case Kind::NoSpace:
            return QStringLiteral("no-space");
    }
    return QString();
}

QString OutcomeName(InviteFailure::Kind kind) {
    using Kind = InviteFailure::Kind;
    switch (kind) {
        case Kind::LinkRefused:
            return QStringLiteral("link-refused");
        case Kind::ProtocolBroken:
            return QStringLiteral("protocol-error");
        case Kind::HandshakeTimedOut:
            return QStringLiteral("handshake-timeout");
        case Kind::NetworkError:
            return QStringLiteral("network-error");
        case Kind::RetriesUsedUp:
            return QStringLiteral("retries-used-up");
    }
    return QString();
}

QString OutcomeName(ChatEnding ending) {
    switch (ending) {
        case ChatEnding::Left:
            return QStringLiteral("left");
        case ChatEnding::PeerLeft:
            return QStringLiteral("peer-left");
        case ChatEnding::Refused:
            return QStringLiteral("refused");
        case ChatEnding::AutoRefused:
            return QStringLiteral("auto-refused");
        case ChatEnding::Cancelled:
            return QStringLiteral("cancelled");
        case ChatEnding::Dropped:
            return QStringLiteral("connection-dropped");
    }
    return QString();
}

QString EventName(WebEvent::Kind kind) {
    using Kind = WebEvent::Kind;
    switch (kind) {
        case Kind::Arrived:
            return QStringLiteral("arrived");
        case Kind::Fetched:
            return QStringLiteral("fetched");
        case Kind::UploadCut:
            return QStringLiteral("upload-cut");
        case Kind::UploadFailed:
            return QStringLiteral("upload-failed");
        case Kind::AddressLockedOut:
            return QStringLiteral("address-locked-out");
    }
    return QString();
}

QString StartFailureName(WebServer::StartFailure failure) {
    using Failure = WebServer::StartFailure;
    switch (failure) {
        case Failure::None:
            return QStringLiteral("none");
        case Failure::PortInUse:
            return QStringLiteral("port-in-use");
        case Failure::AddressUnavailable:
            return QStringLiteral("address-unavailable");
        case Failure::FolderMissing:
            return QStringLiteral("folder-missing");
        case Failure::Failed:
            return QStringLiteral("start-failed");
    }
    return QString();
}

QString RefusalName(LinkRefusal refusal) {
    switch (refusal) {
        case LinkRefusal::WrongCode:
            return QStringLiteral("wrong-code");
        case LinkRefusal::Blocked:
            return QStringLiteral("blocked");
        case LinkRefusal::OwnVersionTooLow:
            return QStringLiteral("own-version-too-low");
        case LinkRefusal::PeerVersionTooLow:
            return QStringLiteral("peer-version-too-low");
        case LinkRefusal::PlainPeer:
            return QStringLiteral("plain-peer");
        case LinkRefusal::Downgrade:
            return QStringLiteral("downgrade");
        case LinkRefusal::IdentityChanged:
            return QStringLiteral("identity-changed");
        case LinkRefusal::SecureFailed:
            return QStringLiteral("secure-failed");
    }
    return QString();
}

QString SocketErrorName(SocketError error) {
    switch (error) {
        case SocketError::None:
            return QStringLiteral("none");
        case SocketError::AddressInUse:
            return QStringLiteral("address-in-use");
        case SocketError::AddressNotAvailable:
            return QStringLiteral("address-not-available");
        case SocketError::ConnectionAborted:
            return QStringLiteral("connection-aborted");
        case SocketError::ConnectionReset:
            return QStringLiteral("connection-reset");
        case SocketError::ShutDown:
            return QStringLiteral("shut-down");
        case SocketError::TimedOut:
            return QStringLiteral("timed-out");
        case SocketError::ConnectionRefused:
            return QStringLiteral("connection-refused");
        case SocketError::HostNotFound:
            return QStringLiteral("host-not-found");
        case SocketError::WrongState:
            return QStringLiteral("wrong-state");
        case SocketError::Other:
            return QStringLiteral("other");
    }
    return QString();
}

QString FileProblemName(FileProblem problem) {
    switch (problem) {
        case FileProblem::None:
            return QStringLiteral("none");
        case FileProblem::NotChosen:
            return QStringLiteral("not-chosen");
        case FileProblem::Missing:
            return QStringLiteral("missing");
        case FileProblem::Empty:
            return QStringLiteral("empty");
        case FileProblem::TooLarge:
            return QStringLiteral("too-large");
    }
    return QString();
}

QString BatchStopName(BatchStopReason reason) {
    switch (reason) {
        case BatchStopReason::BadList:
            return QStringLiteral("bad-list");
        case BatchStopReason::TooMany:
            return QStringLiteral("too-many");
        case BatchStopReason::BadName:
            return QStringLiteral("bad-name");
        case BatchStopReason::Twice:
            return QStringLiteral("twice");
        case BatchStopReason::TooDeep:
            return QStringLiteral("too-deep");
        case BatchStopReason::NoSpace:
            return QStringLiteral("no-space");
        case BatchStopReason::WriteFailed:
            return QStringLiteral("write-failed");
    }
    return QString();
}

QString FindingKindName(Finding::Kind kind) {
    switch (kind) {
        case Finding::Kind::LocalAddress:
            return QStringLiteral("local-address");
        case Finding::Kind::SeveralAddresses:
            return QStringLiteral("several-addresses");
        case Finding::Kind::PortUse:
            return QStringLiteral("port-use");
        case Finding::Kind::FirewallDrops:
            return QStringLiteral("firewall-drops");
        case Finding::Kind::FirewallUnreadable:
            return QStringLiteral("firewall-unreadable");
        case Finding::Kind::FirewallClear:
            return QStringLiteral("firewall-clear");
        case Finding::Kind::PresenceAnswers:
            return QStringLiteral("presence-answers");
        case Finding::Kind::PeerPresence:
            return QStringLiteral("peer-presence");
        case Finding::Kind::PeerPort:
            return QStringLiteral("peer-port");
        case Finding::Kind::Handshake:
            return QStringLiteral("handshake");
        case Finding::Kind::RoundTrip:
            return QStringLiteral("round-trip");
        case Finding::Kind::Subnet:
            return QStringLiteral("subnet");
    }
    return QString();
}

QString VerdictName(Finding::Verdict verdict) {
    switch (verdict) {
        case Finding::Verdict::Ok:
            return QStringLiteral("ok");
        case Finding::Verdict::Warning:
            return QStringLiteral("warning");
        case Finding::Verdict::Error:
            return QStringLiteral("error");
    }
    return QString();
}

QString PortStateName(Finding::PortState state) {
    switch (state) {
        case Finding::PortState::Free:
            return QStringLiteral("free");
        case Finding::PortState::HeldByTolvex:
            return QStringLiteral("held-by-tolvex");
        case Finding::PortState::HeldByOther:
            return QStringLiteral("held-by-other");
        case Finding::PortState::HeldUnseen:
            return QStringLiteral("held-unseen");
        case Finding::PortState::Accepted:
            return QStringLiteral("accepted");
        case Finding::PortState::Refused:
            return QStringLiteral("refused");
        case Finding::PortState::TimedOut:
            return QStringLiteral("timed-out");
        case Finding::PortState::Failed:
            return QStringLiteral("failed");
        case Finding::PortState::NotTried:
            return QStringLiteral("not-tried");
    }
    return QString();
}

QString HandshakeName(Finding::HandshakeResult result) {
    switch (result) {
        case Finding::HandshakeResult::Completed:
            return QStringLiteral("completed");
        case Finding::HandshakeResult::VersionDiffers:
            return QStringLiteral("version-differs");
        case Finding::HandshakeResult::Failed:
            return QStringLiteral("failed");
        case Finding::HandshakeResult::TimedOut:
            return QStringLiteral("timed-out");
        case Finding::HandshakeResult::NoConnection:
            return QStringLiteral("no-connection");
    }
    return QString();
}

}  // namespace tvx
