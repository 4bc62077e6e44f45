#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <optional>

namespace tvx {

// Reads a multipart/form-data body (RFC 7578) as it arrives, piece by piece, without gathering
// it: a part's bytes are handed on as they come, and only the few bytes that may begin a
// boundary wait for the next piece. Part headers, the boundary and file names are bounded.
// The HTTP server library has a form reader of its own, but it copies every byte through a
// buffer of its own and bounds a part's headers only by that buffer's size; this one hands the
// pieces on where they lie and says exactly what it accepts. It is in the fuzz target's table.
class MultipartReader {
public:
    static constexpr int kMaxBoundaryBytes = 70;
    static constexpr int kMaxPartHeaderBytes = 4096;
    static constexpr int kMaxFileNameBytes = 1024;
    // Spaces and tabs allowed after a boundary before its line ends.
    static constexpr int kMaxBoundaryPadding = 64;

    // What a part's headers said.
    struct Part {
        bool isFile = false;  // it had a filename parameter
        QString fieldName;    // the name parameter
        QString fileName;     // as sent: not yet a safe name
    };

    // Where the parts go. Returning false stops the reading (Failed).
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual bool PartBegins(const Part& part) = 0;
        virtual bool PartData(const char* data, std::size_t size) = 0;
        virtual bool PartEnds() = 0;
    };

    // The boundary parameter of a Content-Type value, or empty when the type is not
    // multipart/form-data or the boundary is missing, empty, too long or has bytes RFC 2046
    // does not allow.
    static QByteArray BoundaryOf(const QByteArray& contentType);

    enum class State { Preamble, AfterBoundary, Headers, Body, Done, Failed };

    explicit MultipartReader(const QByteArray& boundary);

    // Reads the next piece. False when the body is malformed or the sink stopped it; the
    // reader then stays Failed.
    bool Feed(const char* data, std::size_t size, Sink& sink);

    State state() const { return m_state; }
    // The closing boundary has been read; what follows it is ignored.
    bool finished() const { return m_state == State::Done; }
    // A part has begun and not ended (its bytes are being handed on).
    bool inPart() const { return m_state == State::Body; }

private:
    bool ScanBody(const char* data, std::size_t size, std::size_t& pos, Sink* sink);
    bool EmitHeld(std::size_t count, Sink* sink);
    bool ReadAfterBoundary(const char* data, std::size_t size, std::size_t& pos, Sink& sink);
    bool ReadHeaders(const char* data, std::size_t size, std::size_t& pos, Sink& sink);
    bool HeaderLine(const QByteArray& line);
    bool FoundDelimiter(Sink* sink);
    bool Fail();

    QByteArray m_delimiter;  // CRLF "--" boundary
    QByteArray m_held;       // a possible beginning of the delimiter, from the last piece
    QByteArray m_line;       // the header line being read, or the rest of the boundary line
    int m_headerBytes = 0;
    int m_padding = 0;
    Part m_part;
    State m_state = State::Preamble;
};

// A parameter of a header value such as Content-Disposition ("form-data; name=\"a\"; ..."):
// a token or a quoted string with its escapes undone; filename* (RFC 5987, UTF-8) wins over
// filename. Null when the parameter is missing or malformed.
std::optional<QByteArray> HeaderParameter(const QByteArray& value, const QByteArray& name);

}  // namespace tvx
