#include "protocol/ReceiveBuffer.h"

#include "protocol/Codes.h"

namespace tvx {

ReceiveBuffer::Outcome ReceiveBuffer::Append(const QByteArray& bytes, QString& message) {
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

    if (!text_.isEmpty() && text_.back().unicode() == ProtocolCodes::Terminator) {
        text_.chop(1);
        if (text_.size() * 2 > kMaxMessageBytes)
            return Outcome::Overflow;
        message = text_;
        text_.clear();
        ++counter_;
        return Outcome::Message;
    }
    if (text_.size() * 2 + (hasOddByte_ ? 1 : 0) > kMaxMessageBytes)
        return Outcome::Overflow;
    return Outcome::Waiting;
}

void ReceiveBuffer::Reset() {
    text_.clear();
    hasOddByte_ = false;
    oddByte_ = 0;
    counter_ = 0;
    verified_ = false;
}

}  // namespace tvx
