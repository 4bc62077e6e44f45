#include "web/MultipartReader.h"

#include <string.h>  // memmem

#include <QList>
#include <QPair>
#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

bool IsBoundaryChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::strchr("'()+_,-./:=? ", c) != nullptr;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// RFC 5987 ext-value: charset'language'percent-encoded; UTF-8 only.
std::optional<QByteArray> DecodeExtValue(const QByteArray& value) {
    const int first = value.indexOf('\'');
    const int second = first < 0 ? -1 : value.indexOf('\'', first + 1);
    if (second < 0 || value.left(first).toLower() != "utf-8")
        return std::nullopt;
    QByteArray decoded;
    for (int i = second + 1; i < value.size(); ++i) {
        if (value[i] != '%') {
            decoded += value[i];
            continue;
        }
        const int high = i + 2 < value.size() ? HexValue(value[i + 1]) : -1;
        const int low = high < 0 ? -1 : HexValue(value[i + 2]);
        if (low < 0)
            return std::nullopt;
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

// The parameters after the first ";", in order, as (lower-case name, value); false when a
// quoted string does not end.
bool SplitParameters(const QByteArray& value, QList<QPair<QByteArray, QByteArray>>& out) {
    int i = value.indexOf(';');
    if (i < 0)
        return true;
    const int n = int(value.size());
    ++i;
    while (i < n) {
        while (i < n && (value[i] == ' ' || value[i] == '\t' || value[i] == ';'))
            ++i;
        const int keyStart = i;
        while (i < n && value[i] != '=' && value[i] != ';')
            ++i;
        const QByteArray key = value.mid(keyStart, i - keyStart).trimmed().toLower();
        QByteArray parameter;
        if (i < n && value[i] == '=') {
            ++i;
            while (i < n && (value[i] == ' ' || value[i] == '\t'))
                ++i;
            if (i < n && value[i] == '"') {
                ++i;
                bool closed = false;
                while (i < n) {
                    const char c = value[i++];
                    if (c == '"') {
                        closed = true;
                        break;
                    }
                    // A backslash escapes only a quote or a backslash: browsers send the
                    // others as they are (a Windows path, say).
                    if (c == '\\' && i < n && (value[i] == '"' || value[i] == '\\'))
                        parameter += value[i++];
                    else
                        parameter += c;
                }
                if (!closed)
                    return false;
                while (i < n && value[i] != ';')
                    ++i;
            } else {
                const int start = i;
                while (i < n && value[i] != ';')
                    ++i;
                parameter = value.mid(start, i - start).trimmed();
            }
        }
        if (!key.isEmpty())
            out.append({key, parameter});
    }
    return true;
}

}  // namespace

std::optional<QByteArray> HeaderParameter(const QByteArray& value, const QByteArray& name) {
    QList<QPair<QByteArray, QByteArray>> parameters;
    if (!SplitParameters(value, parameters))
        return std::nullopt;
    const QByteArray wanted = name.toLower();
    const QByteArray extended = wanted + '*';
    for (const auto& [key, parameter] : parameters) {
        if (key == extended) {
            if (auto decoded = DecodeExtValue(parameter))
                return decoded;
        }
    }
    for (const auto& [key, parameter] : parameters) {
        if (key == wanted)
            return parameter;
    }
    return std::nullopt;
}

QByteArray MultipartReader::BoundaryOf(const QByteArray& contentType) {
    const int semicolon = contentType.indexOf(';');
    const QByteArray type = (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed();
    if (type.toLower() != "multipart/form-data")
        return {};
    const auto boundary = HeaderParameter(contentType, "boundary");
    if (!boundary || boundary->isEmpty() || boundary->size() > kMaxBoundaryBytes ||
        boundary->endsWith(' '))
        return {};
    for (const char c : *boundary) {
        if (!IsBoundaryChar(c))
            return {};
    }
    return *boundary;
}

MultipartReader::MultipartReader(const QByteArray& boundary)
    : m_delimiter("\r\n--" + boundary), m_held("\r\n") {
    // The body's first boundary has no line break before it: the held CRLF stands for one.
    if (boundary.isEmpty())
        m_state = State::Failed;
}

bool MultipartReader::Fail() {
    m_state = State::Failed;
    return false;
}

bool MultipartReader::Feed(const char* data, std::size_t size, Sink& sink) {
    std::size_t pos = 0;
    while (pos < size) {
        switch (m_state) {
            case State::Preamble:
                if (!ScanBody(data, size, pos, nullptr))
                    return false;
                break;
            case State::Body:
                if (!ScanBody(data, size, pos, &sink))
                    return false;
                break;
            case State::AfterBoundary:
                if (!ReadAfterBoundary(data, size, pos, sink))
                    return false;
                break;
            case State::Headers:
                if (!ReadHeaders(data, size, pos, sink))
                    return false;
                break;
            case State::Done:
                return true;  // the epilogue is ignored
            case State::Failed:
                return false;
        }
    }
    return m_state != State::Failed;
}

bool MultipartReader::EmitHeld(std::size_t count, Sink* sink) {
    if (sink && count > 0 && !sink->PartData(m_held.constData(), count))
        return Fail();
    m_held.remove(0, qsizetype(count));
    return true;
}

bool MultipartReader::FoundDelimiter(Sink* sink) {
    if (sink && !sink->PartEnds())
        return Fail();
    m_state = State::AfterBoundary;
    m_line.clear();
    m_padding = 0;
    return true;
}

// Hands on the bytes up to the next delimiter (or drops them in the preamble) and stops after
// it; without one in the piece, keeps the tail that may begin a delimiter.
bool MultipartReader::ScanBody(const char* data, std::size_t size, std::size_t& pos, Sink* sink) {
    const std::size_t d = std::size_t(m_delimiter.size());
    const char* delimiter = m_delimiter.constData();
    while (!m_held.isEmpty()) {
        const std::size_t held = std::size_t(m_held.size());
        const std::size_t need = d - held;
        const std::size_t take = std::min(need, size - pos);
        if (std::memcmp(data + pos, delimiter + held, take) == 0) {
            pos += take;
            if (take < need) {
                m_held.append(data + pos - take, qsizetype(take));
                return true;
            }
            m_held.clear();
            return FoundDelimiter(sink);
        }
        // Not a delimiter after all: its bytes are data, up to the next CR that may begin one.
        const int next = m_held.indexOf('\r', 1);
        if (!EmitHeld(next < 0 ? held : std::size_t(next), sink))
            return false;
    }
    // memmem skips through the bytes several times faster than stopping at every CR.
    if (const void* found = ::memmem(data + pos, size - pos, delimiter, d)) {
        const std::size_t at = std::size_t(static_cast<const char*>(found) - data);
        if (sink && at > pos && !sink->PartData(data + pos, at - pos))
            return Fail();
        pos = at + d;
        return FoundDelimiter(sink);
    }
    // No whole delimiter: one may begin in the last bytes and end in the next piece.
    for (std::size_t from = size - std::min(size - pos, d - 1); from < size;) {
        const void* cr = std::memchr(data + from, '\r', size - from);
        if (!cr)
            break;
        const std::size_t at = std::size_t(static_cast<const char*>(cr) - data);
        if (std::memcmp(data + at, delimiter, size - at) == 0) {
            if (sink && at > pos && !sink->PartData(data + pos, at - pos))
                return Fail();
            m_held = QByteArray(data + at, qsizetype(size - at));
            pos = size;
            return true;
        }
        from = at + 1;
    }
    if (sink && size > pos && !sink->PartData(data + pos, size - pos))
        return Fail();
    pos = size;
    return true;
}

// After a delimiter: "--" closes the body; otherwise optional padding and CRLF begin a part.
bool MultipartReader::ReadAfterBoundary(const char* data, std::size_t size, std::size_t& pos,
                                        Sink& /*sink*/) {
    while (pos < size) {
        const char c = data[pos++];
        if (m_line == "-") {
            if (c != '-')
                return Fail();
            m_state = State::Done;
            return true;
        }
        if (m_line == "\r") {
            if (c != '\n')
                return Fail();
            m_state = State::Headers;
            m_line.clear();
            m_headerBytes = 0;
            m_part = Part();
            return true;
        }
        if (c == '-' && m_padding == 0)
            m_line = "-";
        else if (c == '\r')
            m_line = "\r";
        else if ((c == ' ' || c == '\t') && ++m_padding <= kMaxBoundaryPadding)
            continue;
        else
            return Fail();
    }
    return true;
}

bool MultipartReader::ReadHeaders(const char* data, std::size_t size, std::size_t& pos,
                                  Sink& sink) {
    while (pos < size) {
        const void* lf = std::memchr(data + pos, '\n', size - pos);
        const std::size_t end = lf ? std::size_t(static_cast<const char*>(lf) - data) + 1 : size;
        m_headerBytes += int(end - pos);
        if (m_headerBytes > kMaxPartHeaderBytes)
            return Fail();
        m_line.append(data + pos, qsizetype(end - pos));
        pos = end;
        if (!lf)
            return true;
        if (!m_line.endsWith("\r\n"))
            return Fail();
        m_line.chop(2);
        if (m_line.isEmpty()) {
            if (!sink.PartBegins(m_part))
                return Fail();
            m_state = State::Body;
            return true;
        }
        if (!HeaderLine(m_line))
            return Fail();
        m_line.clear();
    }
    return true;
}

bool MultipartReader::HeaderLine(const QByteArray& line) {
    const int colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    if (line.left(colon).trimmed().toLower() != "content-disposition")
        return true;
    const QByteArray value = line.mid(colon + 1).trimmed();
    const auto name = HeaderParameter(value, "name");
    const auto fileName = HeaderParameter(value, "filename");
    if (!name && !fileName && value.contains('"'))
        return false;  // a quoted string that does not end
    if (fileName && fileName->size() > kMaxFileNameBytes)
        return false;
    m_part.fieldName = name ? QString::fromUtf8(*name) : QString();
    m_part.isFile = fileName.has_value();
    m_part.fileName = fileName ? QString::fromUtf8(*fileName) : QString();
    return true;
}

}  // namespace tvx
