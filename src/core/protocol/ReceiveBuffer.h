#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tvx {

// The receiving half of a control or chat connection: the text received and not yet handled,
// the count of complete messages and whether the handshake has passed.
//
// The link feeds every arrival in and takes the messages out one by one: each terminator ends
// a message, so two messages that arrive in one read are handled one after the other. Once the
// handshake has passed, a terminator that is followed at once by a character that cannot begin
// a message is part of the text (a chat text scrambles one character of the typed text into
// the terminator's value). A terminator that ends what has arrived always ends a message. An
// odd trailing byte waits for its partner in the next arrival.
class ReceiveBuffer {
public:
    // Far above the longest real message (a chat text of 4096 characters with its style).
    static constexpr qsizetype kMaxMessageBytes = 65536;

    enum class Outcome {
        Waiting,   // no complete message yet
        Message,   // one message (without its terminator); the counter has been raised
        Overflow,  // the message passed kMaxMessageBytes; the connection is to be reset
    };

    // Adds the bytes of one arrival.
    void Feed(const QByteArray& bytes);
    // The next complete message, in arrival order.
    Outcome Next(QString& message);

    // The codes that can begin a message once verified; none: every terminator ends one.
    void SetMessageStarts(const QList<char16_t>& codes) { starts_ = codes; }

    // Older whole-arrival framing, kept for the raw test ends: after the bytes, the whole
    // buffer is one message when its last character is the terminator.
    Outcome Append(const QByteArray& bytes, QString& message);

    // Nothing received waits to be handled.
    bool empty() const { return read_ >= text_.size() && !hasOddByte_; }
    int counter() const { return counter_; }
    bool verified() const { return verified_; }
    void SetVerified() { verified_ = true; }
    // Back to the state of a new connection (the message starts stay).
    void Reset();

private:
    bool EndsMessage(qsizetype terminatorAt) const;

    QString text_;
    qsizetype read_ = 0;  // where the next message begins
    qsizetype scan_ = 0;  // where the search for its terminator goes on
    bool hasOddByte_ = false;
    uchar oddByte_ = 0;
    int counter_ = 0;
    bool verified_ = false;
    QList<char16_t> starts_;
};

}  // namespace tvx
