#pragma once

#include <QByteArray>
#include <QString>

namespace tvx {

// The receiving half of a control or chat connection: the text received and not yet handled,
// the count of complete messages and whether the handshake has passed.
//
// Only the last character is tested for the terminator, so two messages that arrive in one
// read come out as one. An odd trailing byte waits for its partner in the next arrival.
class ReceiveBuffer {
public:
    // Far above the longest real message (a chat text of 4096 characters with its style).
    static constexpr qsizetype kMaxMessageBytes = 65536;

    enum class Outcome {
        Waiting,   // no complete message yet
        Message,   // one message (without its terminator); the counter has been raised
        Overflow,  // the message passed kMaxMessageBytes; the connection is to be reset
    };

    Outcome Append(const QByteArray& bytes, QString& message);

    int counter() const { return counter_; }
    bool verified() const { return verified_; }
    void SetVerified() { verified_ = true; }
    // Back to the state of a new connection.
    void Reset();

private:
    QString text_;
    bool hasOddByte_ = false;
    uchar oddByte_ = 0;
    int counter_ = 0;
    bool verified_ = false;
};

}  // namespace tvx
