#include "protocol/ReceiveBuffer.h"

#include "protocol/Codes.h"

namespace tvx {

void ReceiveBuffer::Feed(const QByteArray& bytes) {
    const auto* in = reinterpret_cast<const uchar*>(bytes.constData());
    qsizetype left = bytes.size();
    if (hasOddByte_ && left > 0) {
        text_ += QChar(char16_t(oddByte_ | (in[0] << 8)));
        hasOddByte_ = false;
        ++in;
        --left;
    }
    const qsizetype units = left / 2;
    const qsizetype start = text_.size();
    text_.resize(start + units);
    QChar* out = text_.data() + start;
    for (qsizetype k = 0; k < units; ++k)
        out[k] = QChar(char16_t(in[2 * k] | (in[2 * k + 1] << 8)));
    if (left % 2 == 1) {
        hasOddByte_ = true;
        oddByte_ = in[left - 1];
    }
}

bool ReceiveBuffer::EndsMessage(qsizetype terminatorAt) const {
    if (!verified_ || starts_.isEmpty() || terminatorAt + 1 >= text_.size())
        return true;
    return starts_.contains(text_[terminatorAt + 1].unicode());
}

ReceiveBuffer::Outcome ReceiveBuffer::Next(QString& message) {
    const QChar* text = text_.constData();
    for (qsizetype k = scan_; k < text_.size(); ++k) {
        if (text[k].unicode() != ProtocolCodes::Terminator || !EndsMessage(k))
            continue;
        const qsizetype length = k - read_;
        if (length * 2 > kMaxMessageBytes)
            return Outcome::Overflow;
        message = text_.mid(read_, length);
        read_ = k + 1;
        scan_ = read_;
        ++counter_;
        return Outcome::Message;
    }
    // Nothing complete: drop what has been handled and look only at new text next time.
    text_.remove(0, read_);
    read_ = 0;
    scan_ = text_.size();
    if (text_.size() * 2 + (hasOddByte_ ? 1 : 0) > kMaxMessageBytes)
        return Outcome::Overflow;
    return Outcome::Waiting;
}

ReceiveBuffer::Outcome ReceiveBuffer::Append(const QByteArray& bytes, QString& message) {
    Feed(bytes);
    if (!text_.isEmpty() && text_.back().unicode() == ProtocolCodes::Terminator) {
        text_.chop(1);
        if (text_.size() * 2 > kMaxMessageBytes)
            return Outcome::Overflow;
        message = text_;
        text_.clear();
        read_ = 0;
        scan_ = 0;
        ++counter_;
        return Outcome::Message;
    }
    if (text_.size() * 2 + (hasOddByte_ ? 1 : 0) > kMaxMessageBytes)
        return Outcome::Overflow;
    return Outcome::Waiting;
}

void ReceiveBuffer::Reset() {
    text_.clear();
    read_ = 0;
    scan_ = 0;
    hasOddByte_ = false;
    oddByte_ = 0;
    counter_ = 0;
    verified_ = false;
}

}  // namespace tvx
