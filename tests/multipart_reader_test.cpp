// Reading a browser's upload body piece by piece: the pieces may split anything anywhere, and
// the bytes of a file must come out exactly, whatever they hold.
#include <gtest/gtest.h>

#include <QList>
#include <QPair>
#include <QRandomGenerator>

#include "web/MultipartReader.h"

namespace tvx::test {
namespace {

struct Collected : MultipartReader::Sink {
    bool PartBegins(const MultipartReader::Part& part) override {
        parts.append({part, QByteArray()});
        return true;
    }
    bool PartData(const char* data, std::size_t size) override {
        parts.last().second.append(data, qsizetype(size));
        return true;
    }
    bool PartEnds() override {
        ++ended;
        return true;
    }
    QList<QPair<MultipartReader::Part, QByteArray>> parts;
    int ended = 0;
};

// Feeds the body in pieces of the given sizes, cycling; the reader's last answer.
bool FeedInPieces(MultipartReader& reader, const QByteArray& body, Collected& sink,
                  const QList<int>& sizes) {
    qsizetype at = 0;
    int turn = 0;
    bool ok = true;
    while (at < body.size() && ok) {
        const qsizetype piece = std::min<qsizetype>(sizes[turn++ % sizes.size()], body.size() - at);
        ok = reader.Feed(body.constData() + at, std::size_t(piece), sink);
        at += piece;
    }
    return ok;
}

TEST(MultipartReader, PartsComeOutExactWhereverThePiecesSplit) {
    const QByteArray boundary = "----WebKitFormBoundary7MA4YWxk";
    // File bytes that look like the delimiter's beginning in every length but the whole.
    QByteArray tricky = "\r\n--" + boundary;
    QByteArray content;
    for (int cut = 1; cut < tricky.size(); ++cut)
        content += tricky.left(cut) + "x";
    content += "\r\r\n\r\n-";
    QByteArray random(70000, Qt::Uninitialized);
    for (char& c : random)
        c = char(QRandomGenerator::global()->bounded(256));
    const QByteArray body =
        "preamble\r\n--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n--" + boundary +
        "  \r\nContent-Disposition: form-data; name=\"f\"; filename=\"a \\\"b\\\".txt\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        content + "\r\n--" + boundary + "\r\n" +
        "content-disposition: form-data; name=\"g\"; filename=\"x\"; "
        "filename*=UTF-8''%E6%8A%A5%E5%91%8A.bin\r\n\r\n" +
        random + "\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"e\"; "
        "filename=\"\"\r\n\r\n\r\n--" +
        boundary + "--\r\nepilogue --" + boundary;

    for (const QList<int>& sizes :
         {QList<int>{int(body.size())}, QList<int>{1}, QList<int>{2, 3, 5}, QList<int>{41, 4096}}) {
        Collected sink;
        MultipartReader reader(boundary);
        ASSERT_TRUE(FeedInPieces(reader, body, sink, sizes));
        EXPECT_TRUE(reader.finished());
        ASSERT_EQ(sink.parts.size(), 4);
        EXPECT_EQ(sink.ended, 4);
        EXPECT_FALSE(sink.parts[0].first.isFile);
        EXPECT_EQ(sink.parts[0].second, "hello");
        EXPECT_EQ(sink.parts[1].first.fileName, QStringLiteral("a \"b\".txt"));
        EXPECT_EQ(sink.parts[1].second, content);
        EXPECT_EQ(sink.parts[2].first.fileName, QStringLiteral("报告.bin"));
        EXPECT_EQ(sink.parts[2].second, random);
        EXPECT_TRUE(sink.parts[3].first.isFile);
        EXPECT_TRUE(sink.parts[3].first.fileName.isEmpty());
        EXPECT_TRUE(sink.parts[3].second.isEmpty());
    }
}

TEST(MultipartReader, RefusesWhatBreaksTheRulesAndItsBounds) {
    EXPECT_EQ(MultipartReader::BoundaryOf("multipart/form-data; boundary=\"a b\""), "a b");
    EXPECT_EQ(MultipartReader::BoundaryOf("Multipart/Form-Data;boundary=xyz"), "xyz");
    EXPECT_TRUE(MultipartReader::BoundaryOf("multipart/mixed; boundary=xyz").isEmpty());
    EXPECT_TRUE(MultipartReader::BoundaryOf("multipart/form-data").isEmpty());
    EXPECT_TRUE(MultipartReader::BoundaryOf("multipart/form-data; boundary=a\x01").isEmpty());
    EXPECT_TRUE(MultipartReader::BoundaryOf("multipart/form-data; boundary=" + QByteArray(71, 'a'))
                    .isEmpty());

    const auto fails = [](const QByteArray& body) {
        Collected sink;
        MultipartReader reader("b");
        return !reader.Feed(body.constData(), std::size_t(body.size()), sink) &&
               reader.state() == MultipartReader::State::Failed;
    };
    const QByteArray disposition = "Content-Disposition: form-data; name=\"f\"; filename=\"";
    EXPECT_TRUE(fails("--b\r\nX-Long: " + QByteArray(5000, 'a') + "\r\n\r\n"));
    EXPECT_TRUE(fails("--b\r\n" + disposition + QByteArray(1025, 'n') + "\"\r\n\r\n"));
    EXPECT_TRUE(fails("--b\r\n" + disposition + "open\r\n\r\n"));
    EXPECT_TRUE(fails("--b\r\nno colon here\r\n\r\n"));
    EXPECT_TRUE(fails("--b\nContent-Disposition: form-data\n\n"));
    EXPECT_TRUE(fails("--bx\r\n"));
    EXPECT_TRUE(fails("--b" + QByteArray(65, ' ') + "\r\n"));

    // A body cut before its closing boundary is not finished: the caller drops the part.
    Collected sink;
    MultipartReader reader("b");
    const QByteArray cut = "--b\r\n" + disposition + "a\"\r\n\r\nhalf of it";
    EXPECT_TRUE(reader.Feed(cut.constData(), std::size_t(cut.size()), sink));
    EXPECT_TRUE(reader.inPart());
    EXPECT_FALSE(reader.finished());
    EXPECT_EQ(sink.ended, 0);
}

}  // namespace
}  // namespace tvx::test
