// tolvex chat: invites a running copy and carries the chat over standard input and output.
#include <unistd.h>

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include "chat/ChatInviter.h"
#include "commands/Commands.h"
#include "commands/EventNames.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "common/FontStyle.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "platform/Headless.h"
#include "protocol/PeerMessages.h"
#include "session/Session.h"
#include "texts/ChatTexts.h"
#include "texts/SecurityTexts.h"
#include "texts/SendTexts.h"

namespace tvx {

namespace {

// How long a leave waits for the peer to close before the command ends anyway.
constexpr int kLeaveGraceMs = 2000;

// Standard input, read as it comes: whole lines go out one by one, the end of input leaves.
class LineReader : public QObject {
public:
    LineReader(std::function<void(const QString&)> line, std::function<void()> end)
        : m_line(std::move(line)), m_end(std::move(end)) {}

    void Start() {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { ReadSome(); });
    }

private:
    void ReadSome() {
        char bytes[65536];
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count > 0) {
            m_pending.append(bytes, count);
            int newline;
            while ((newline = m_pending.indexOf('\n')) >= 0) {
                QByteArray line = m_pending.left(newline);
                m_pending.remove(0, newline + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                m_line(QString::fromLocal8Bit(line));
            }
            // Input without line ends is not gathered without bound: it goes out in pieces,
            // each cut after a whole UTF-8 character.
            if (m_pending.size() > kMaxPendingBytes) {
                qsizetype cut = m_pending.size();
                while (cut > 0 && (uchar(m_pending[cut - 1]) & 0xC0) == 0x80)
                    --cut;
                if (cut > 0 && uchar(m_pending[cut - 1]) >= 0xC0)
                    --cut;  // the lead byte of a character still incomplete
                if (cut == 0)
                    cut = m_pending.size();
                m_line(QString::fromLocal8Bit(m_pending.left(cut)));
                m_pending.remove(0, cut);
            }
            return;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        m_notifier->setEnabled(false);
        if (!m_pending.isEmpty())
            m_line(QString::fromLocal8Bit(m_pending));
        m_pending.clear();
        m_end();
    }

    std::function<void(const QString&)> m_line;
    std::function<void()> m_end;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_pending;
    static constexpr qsizetype kMaxPendingBytes = 65536;
};

// A line as texts the peer's input box could hold: longer lines go as several texts, never
// splitting a character in half.
QStringList ChatPieces(const QString& line) {
    QStringList pieces;
    for (qsizetype start = 0; start < line.size();) {
        qsizetype end = qMin(line.size(), start + kMaxChatTextLength);
        if (end < line.size() && line[end - 1].isHighSurrogate())
            --end;
        pieces << line.mid(start, end - start);
        start = end;
    }
    return pieces;
}

}  // namespace

int RunChatCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    Session& session = context.session;
    const JsonEvents& json = context.json;
    const QString peer = CheckCommandAddress(context, request.peerAddress);
    if (peer.isEmpty()) {
        json.Emit(QStringLiteral("end"),
                  QJsonObject{{QStringLiteral("outcome"), QStringLiteral("bad-address")},
                              {QStringLiteral("status"), StatusUsage}});
        return StatusUsage;
    }

    ChatInviter inviter(session);
    inviter.SetPauseMs(0);  // the pauses pace the chat window's steps; a terminal keeps lines
    // What the peer wrote before it saw the leave at the end of input is still printed.
    inviter.SetTextsAfterLeave(true);
    CommandLoop loop(StatusNetwork);
    bool failed = false;
    const QString plainStyle = FontStyleCode(0, false, false, false, 9);
    // The command's end, told once.
    const auto end = [&](const QString& outcome, int status, QJsonObject fields = {}) {
        if (loop.finished())
            return;
        fields.insert(QStringLiteral("outcome"), outcome);
        fields.insert(QStringLiteral("status"), status);
        json.Emit(QStringLiteral("end"), fields);
        loop.Finish(status);
    };
    const auto line = [&](bool mine, const QString& text) {
        json.Emit(QStringLiteral("line"),
                  QJsonObject{{QStringLiteral("from"),
                               mine ? QStringLiteral("me") : QStringLiteral("peer")},
                              {QStringLiteral("nick"),
                               mine ? session.personalInfo.nickName : inviter.peerNickName()},
                              {QStringLiteral("text"), text}});
    };

    bool leaving = false;
    auto leave = [&] {
        leaving = true;
        inviter.Leave();
        // The peer closes on the leave; a peer that does not is not waited for long.
        QTimer::singleShot(kLeaveGraceMs, &loop,
                           [&] { end(OutcomeName(ChatEnding::Left), StatusDone); });
    };
    LineReader reader(
        [&](const QString& text) {
            if (TrimLines(text).isEmpty())
                return;
            if (!inviter.chatting()) {
                output.Message(PeerLeftCannotSendText());
                return;
            }
            for (const QString& piece : ChatPieces(text))
                inviter.SendChatText(plainStyle + piece);
            line(true, text);
        },
        [&] {
            if (inviter.chatting())
                leave();
            else
                end(OutcomeName(ChatEnding::Left), StatusDone);
        });

    QObject::connect(&inviter, &ChatInviter::StepChanged, &loop, [&](int step) {
        if (step == 1) {
            output.Message(QStringLiteral("正在连接 ") + inviter.shownAddress() +
                           QStringLiteral(" ..."));
        } else if (step == 2) {
            output.Message(EncryptionLine(inviter.encrypted(), inviter.peerFingerprint()));
        } else if (step == 3) {
            output.Message(InviteWaitingForAnswerLine());
        }
    });
    QObject::connect(
        &inviter, &ChatInviter::Accepted, &loop,
        [&](bool automatically, const QString& autoReplyText) {
            output.Message(RoomLine(inviter.peerNickName(),
                                    automatically ? RoomEvent::AutoEnter : RoomEvent::Enter,
                                    session.system().Now()));
            if (automatically)
                output.Message(autoReplyText);
            QJsonObject fields{{QStringLiteral("peer"), peer},
                               {QStringLiteral("nick"), inviter.peerNickName()},
                               {QStringLiteral("automatic"), automatically}};
            if (automatically)
                fields.insert(QStringLiteral("autoReply"), autoReplyText);
            json.Emit(QStringLiteral("connected"), fields);
            reader.Start();
        });
    QObject::connect(&inviter, &ChatInviter::Refused, &loop, [&](const QString& note) {
        output.Message(InviteRefusedLine(inviter.shownAddress()));
        output.Message(QStringLiteral("附言:") + (note.isEmpty() ? EmptyNoteText() : note));
        end(OutcomeName(ChatEnding::Refused), StatusRefused, {{QStringLiteral("note"), note}});
    });
    QObject::connect(&inviter, &ChatInviter::AutoRefused, &loop, [&](const QString& note) {
        output.Message(InviteAutoRefusedLine(inviter.shownAddress()));
        output.Message(InviteAutoRefusedNote());
        end(OutcomeName(ChatEnding::AutoRefused), StatusRefused, {{QStringLiteral("note"), note}});
    });
    QObject::connect(&inviter, &ChatInviter::TextReceived, &loop, [&](const QString& styled) {
        // With --json the line event says it all.
        if (json.on()) {
            line(false, styled.mid(kStyleCodeLength));
            return;
        }
        output.Result(inviter.peerNickName() + QLatin1Char(' ') +
                      session.system().Now().time().toString(QStringLiteral("H:mm:ss")));
        output.Result(styled.mid(kStyleCodeLength));
    });
    QObject::connect(&inviter, &ChatInviter::PeerLeftChat, &loop, [&] {
        output.Message(RoomLine(inviter.peerNickName(), RoomEvent::Left, session.system().Now()));
        output.Message(QStringLiteral("对方用户离开聊天室。"));
        end(OutcomeName(ChatEnding::PeerLeft), StatusDone);
    });
    QObject::connect(&inviter, &ChatInviter::ConnectionLost, &loop, [&] {
        output.Message(RoomLine(inviter.peerNickName(), RoomEvent::Lost, session.system().Now()));
    });
    QObject::connect(&inviter, &ChatInviter::ChatClosed, &loop, [&] {
        // After the user's leave the peer's close ends the chat. Any other close has told why
        // by the time this runs, unless the link gave up without a word.
        if (leaving) {
            end(OutcomeName(ChatEnding::Left), StatusDone);
            return;
        }
        QTimer::singleShot(0, &loop, [&] {
            if (loop.finished() || failed)
                return;
            output.Message(ConnectionBrokenText());
            end(OutcomeName(ChatEnding::Dropped), StatusNetwork);
        });
    });
    // The history log that cannot be written does not stop the invitation.
    QObject::connect(&inviter, &ChatInviter::LogWriteFailed, &loop,
                     [&](const QString& warning) { output.Message(warning); });
    QObject::connect(&inviter, &ChatInviter::Failed, &loop, [&](const InviteFailure& failure) {
        failed = true;
        if (loop.finished())
            return;
        const bool badAddress = failure.kind == InviteFailure::Kind::NetworkError &&
                                ClassifyCallerError(failure.error) == CallerFailure::BadAddress;
        output.Message(badAddress ? BadAddressMessage(request.peerAddress)
                                  : InviteFailureMessage(failure).text);
        if (failure.kind == InviteFailure::Kind::LinkRefused &&
            !TrustFlagHint(failure.refusal).isEmpty())
            output.Message(TrustFlagHint(failure.refusal));
        QJsonObject fields;
        if (failure.kind == InviteFailure::Kind::LinkRefused) {
            fields.insert(QStringLiteral("refusal"), RefusalName(failure.refusal));
            fields.insert(QStringLiteral("note"), failure.note);
        }
        if (failure.error != SocketError::None)
            fields.insert(QStringLiteral("error"), SocketErrorName(failure.error));
        if (failure.attempts > 0)
            fields.insert(QStringLiteral("attempts"), failure.attempts);
        const QString name = badAddress ? QStringLiteral("bad-address") : OutcomeName(failure.kind);
        if (failure.kind == InviteFailure::Kind::LinkRefused)
            end(name, StatusRefused, fields);
        else if (badAddress)
            end(name, StatusUsage, fields);
        else
            end(name, StatusNetwork, fields);
    });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop, [&] {
        if (loop.finished())
            return;
        if (inviter.chatting()) {
            leave();
        } else {
            inviter.Cancel();
            end(OutcomeName(ChatEnding::Cancelled), StatusRefused);
        }
    });

    ChatInviter::Request invitation;
    invitation.peerAddress = peer;
    invitation.shownAddress = request.peerAddress.toUpper();
    invitation.typedAddress = request.peerAddress;
    invitation.verificationCode = request.code;
    inviter.StartInvitation(invitation);
    return loop.Run();
}

}  // namespace tvx
