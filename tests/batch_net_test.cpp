#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "protocol/BatchMessages.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ScriptedSender.h"
#include "support/Trees.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/FileSendEngine.h"

// Several files and folders in one send, between the two engines on 127.0.0.2 and 127.0.0.3,
// and from a sender written out by hand that breaks the rules.
namespace tvx::test {
namespace {

using Kind = SendOutcome::Kind;

struct Receiver {
    Receiver() : peer(kAnswererAddress, QStringLiteral("小红")) {
        peer.session.appFolder = data.path() + QLatin1Char('/');
        engine = std::make_unique<FileReceiveEngine>(peer.session);
        engine->SetCompletionPauseMs(0);
        QObject::connect(engine.get(), &FileReceiveEngine::Reported, engine.get(),
                         [this](const ReceiveOutcome& outcome) { outcomes.append(outcome); });
        QObject::connect(engine.get(), &FileReceiveEngine::BatchOfferWaiting, engine.get(),
                         [this](const BatchSummary& summary) { questions.append(summary); });
        QObject::connect(engine.get(), &FileReceiveEngine::OfferWaiting, engine.get(),
                         [this] { ++fileQuestions; });
        QObject::connect(engine.get(), &FileReceiveEngine::BatchReceived, engine.get(),
                         [this](const QString&, const QStringList& names, qint64 files) {
                             targets = names;
                             received += files;
                         });
        QObject::connect(engine.get(), &FileReceiveEngine::BatchFileDone, engine.get(),
                         [this](const QString& path, qint64 size, const QString& saved) {
                             filesDone << path;
                             EXPECT_EQ(QFileInfo(saved).size(), size) << qPrintable(saved);
                             EXPECT_TRUE(saved.endsWith(path.section(QLatin1Char('/'), 1)))
                                 << qPrintable(saved);
                         });
    }
    void Automatically(bool replace = false) {
        peer.session.settings.autoRecvFile = true;
        peer.session.settings.autoSavePath = downloads.path();
        peer.session.settings.existFile = replace;
    }
    QString Folder() const { return downloads.path(); }

    QTemporaryDir data;
    QTemporaryDir downloads;
    LoopbackPeer peer;
    std::unique_ptr<FileReceiveEngine> engine;
    QList<ReceiveOutcome> outcomes;
    QList<BatchSummary> questions;
    int fileQuestions = 0;
    QStringList targets;
    qint64 received = 0;
    QStringList filesDone;  // each file complete, by its path in the batch
};

class BatchNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(source.isValid());
        sender.session.appFolder = source.path() + QStringLiteral("/");
        engine.SetPauseMs(0);
        QObject::connect(&engine, &FileSendEngine::Ended, &engine,
                         [this](const SendOutcome& outcome) { ends.append(outcome); });
        QObject::connect(&engine, &FileSendEngine::OneByOne, &engine,
                         [this](qint64) { ++oneByOneTold; });
        QObject::connect(&engine, &FileSendEngine::FileDone, &engine,
                         [this](const QString& path, qint64) { filesSent << path; });
        ASSERT_TRUE(receiver.engine->StartFileListener());
    }

    QString Make(const QString& relative, const QByteArray& content) {
        const QString path = source.path() + QStringLiteral("/tree/") + relative;
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }
    QString Root(const QString& relative = QString()) const {
        return source.path() + QStringLiteral("/tree/") + relative;
    }

    // Walks the paths and sends what it found; `afterWalk` may change the tree in between.
    bool Send(const QStringList& paths, const std::function<void()>& afterWalk = {}) {
        FileSendEngine::Request request;
        request.peerAddress = request.shownAddress = request.typedAddress = kAnswererAddress;
        request.note = QStringLiteral("照片");
        request.batch = std::make_shared<BatchSelection>(BatchSelection::Scan(paths));
        if (afterWalk)
            afterWalk();
        const int before = int(ends.size());
        engine.Start(request);
        return WaitUntil([&] { return ends.size() > before; }, 30000);
    }

    QTemporaryDir source;
    LoopbackPeer sender{kCallerAddress, QStringLiteral("小明")};
    FileSendEngine engine{sender.session};
    Receiver receiver;
    QList<SendOutcome> ends;
    int oneByOneTold = 0;
    QStringList filesSent;  // each file that went whole, by its path in the batch
};

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}

TEST_F(BatchNet, ATreeArrivesWholeAfterOneQuestionAndASecondCopyTakesANumberedName) {
    Make(QStringLiteral("相册/2024/一月/海边.jpg"), RandomBytes(300 * 1024));
    Make(QStringLiteral("相册/2024/说明 (1).txt"), "notes\r\n");
    Make(QStringLiteral("相册/空文件"), QByteArray());
    Make(QStringLiteral("相册/大/big.bin"), Pattern(3 * 1024 * 1024 + 17));
    QDir().mkpath(Root(QStringLiteral("相册/空文件夹/更空")));
    Make(QStringLiteral("单独.txt"), "alone");
    // Links are not followed and devices not read; both are listed as skipped.
    ASSERT_EQ(::symlink("/etc", QFile::encodeName(Root(QStringLiteral("相册/外面"))).constData()),
              0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(Root(QStringLiteral("相册/管道"))).constData(), 0600), 0);
    const QStringList chosen{Root(QStringLiteral("相册")), Root(QStringLiteral("单独.txt"))};

    QObject::connect(
        receiver.engine.get(), &FileReceiveEngine::BatchOfferWaiting, receiver.engine.get(),
        [this] { receiver.engine->AcceptBatch(receiver.engine->OfferKey(), receiver.Folder()); });
    ASSERT_TRUE(Send(chosen));
    const SendOutcome& outcome = ends.last();
    EXPECT_EQ(outcome.kind, Kind::Completed);
    EXPECT_TRUE(outcome.batch);
    EXPECT_FALSE(outcome.oneByOne);
    EXPECT_EQ(outcome.files, 5);
    EXPECT_EQ(outcome.filesDone, 5);
    EXPECT_EQ(outcome.skipped.size(), 2);
    ASSERT_EQ(receiver.questions.size(), 1);
    EXPECT_EQ(receiver.questions[0].files, 5);
    EXPECT_EQ(receiver.questions[0].folders, 6);
    EXPECT_EQ(receiver.questions[0].topNames, (QStringList{"相册", "单独.txt"}));
    EXPECT_EQ(receiver.questions[0].note, QStringLiteral("照片"));

    QFile::remove(Root(QStringLiteral("相册/外面")));
    QFile::remove(Root(QStringLiteral("相册/管道")));
    EXPECT_EQ(TreeListing(receiver.Folder()), TreeListing(Root()));
    EXPECT_EQ(QFileInfo(receiver.Folder() + QStringLiteral("/相册/2024/一月/海边.jpg"))
                  .lastModified()
                  .toSecsSinceEpoch(),
              QFileInfo(Root(QStringLiteral("相册/2024/一月/海边.jpg")))
                  .lastModified()
                  .toSecsSinceEpoch());

    // The same batch again, after the first completed: the names stand, so the copy is
    // numbered. A file that went after the walk is skipped and the rest goes on.
    ASSERT_TRUE(WaitUntil(
        [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));
    const QString gone = Root(QStringLiteral("相册/2024/说明 (1).txt"));
    filesSent.clear();
    receiver.filesDone.clear();
    ASSERT_TRUE(Send(chosen, [&] { QFile::remove(gone); }));
    // Each file that went is named once, on both sides; the one that could not be read is not.
    const QStringList whole{"单独.txt", "相册/2024/一月/海边.jpg", "相册/大/big.bin",
                            "相册/空文件"};
    EXPECT_EQ(Sorted(filesSent), whole);
    EXPECT_EQ(Sorted(receiver.filesDone),
              Sorted(QStringList{"单独(1).txt", "相册(1)/2024/一月/海边.jpg", "相册(1)/大/big.bin",
                                 "相册(1)/空文件"}));
    EXPECT_EQ(ends.last().kind, Kind::Completed);
    EXPECT_EQ(ends.last().filesThere, 0);
    EXPECT_EQ(ends.last().filesDone, 4);
    EXPECT_TRUE(ends.last().skipped.contains(gone));
    EXPECT_FALSE(
        QFileInfo::exists(receiver.Folder() + QStringLiteral("/相册(1)/2024/说明 (1).txt")));
    EXPECT_FALSE(
        QFileInfo::exists(receiver.Folder() + QStringLiteral("/相册(1)/2024/说明 (1).txt.tvx")));
    EXPECT_EQ(receiver.targets, (QStringList{"相册(1)", "单独(1).txt"}));
    EXPECT_EQ(ReadAll(receiver.Folder() + QStringLiteral("/相册(1)/大/big.bin")),
              Pattern(3 * 1024 * 1024 + 17));
}

TEST_F(BatchNet, APeerThatDoesNotAnnounceBatchesGetsOnePlainOfferPerFileWithItsBareName) {
    receiver.engine->ControlLink().SetAnnouncedFeatures(QString());
    receiver.Automatically();
    Make(QStringLiteral("a/one.txt"), "1");
    Make(QStringLiteral("a/b/two.txt"), "22");
    Make(QStringLiteral("a/b/empty"), QByteArray());  // a plain offer cannot carry it
    ASSERT_TRUE(Send({Root(QStringLiteral("a"))}));
    const SendOutcome& outcome = ends.last();
    EXPECT_EQ(outcome.kind, Kind::Completed);
    EXPECT_TRUE(outcome.oneByOne);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.skipped, QStringList{Root(QStringLiteral("a/b/empty"))});
    EXPECT_EQ(Sorted(filesSent), (QStringList{"a/b/two.txt", "a/one.txt"}));
    EXPECT_EQ(oneByOneTold, 1);
    EXPECT_TRUE(receiver.questions.isEmpty());
    EXPECT_EQ(QDir(receiver.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"one.txt", "two.txt"}));
    EXPECT_EQ(ReadAll(receiver.Folder() + QStringLiteral("/two.txt")), "22");
}

// A sender by hand: the protocol's caller with the batch messages built from a real walk.
struct BatchScript : ScriptedSender {
    void OfferBatch(const BatchSelection& selection, qint64 entries = -1) {
        BatchHeader header;
        header.entries = entries >= 0 ? entries : selection.entries().size();
        header.folders = selection.folders();
        header.files = header.entries - header.folders;
        header.totalBytes = selection.totalBytes();
        header.key = key;
        link.Send(BuildBatchOffer(header));
        for (const QString& message : BuildBatchEntries(selection.entries()))
            link.Send(message);
        link.Send(BuildBatchListEnd());
    }
    void OfferList(const QList<BatchEntry>& entries) {
        BatchHeader header;
        header.entries = entries.size();
        for (const BatchEntry& entry : entries) {
            header.folders += entry.folder ? 1 : 0;
            header.totalBytes += entry.size;
        }
        header.files = header.entries - header.folders;
        header.key = key;
        link.Send(BuildBatchOffer(header));
        for (const QString& message : BuildBatchEntries(entries))
            link.Send(message);
        link.Send(BuildBatchListEnd());
    }
    void Record(RecordType type, qint64 index, const QByteArray& plain = QByteArray()) {
        QByteArray bytes(kRecordHeaderBytes, 0);
        WriteRecordHeader(bytes.data(), RecordHeader{type, quint32(index), quint32(plain.size())});
        QByteArray payload = plain;
        ScrambleBytes(payload, key);
        data.Send(bytes + payload);
    }
    bool Answered(char16_t code) {
        return WaitUntil([&] {
            for (const auto& answer : answers) {
                if (answer.first == code)
                    return true;
            }
            return false;
        });
    }
    BatchStop Stop() const {
        for (const auto& answer : answers) {
            if (answer.first == BatchCodes::Stopped)
                return ParseBatchStopped(answer.second);
        }
        return BatchStop();
    }
};

TEST_F(BatchNet, ACutBatchContinuesWithTheFilesBeforeTheCutSkippedAndThePartialFileResumed) {
    receiver.Automatically();
    Make(QStringLiteral("d/1.bin"), Pattern(1000, 1));
    Make(QStringLiteral("d/2.bin"), Pattern(2000, 2));
    Make(QStringLiteral("d/3.bin"), Pattern(300000, 3));
    Make(QStringLiteral("d/4.bin"), Pattern(4000, 4));
    const BatchSelection selection = BatchSelection::Scan({Root(QStringLiteral("d"))});
    ASSERT_EQ(selection.entries().size(), 5);

    {
        // Files 1 and 2 whole, 100,000 bytes of file 3, then the sender is gone.
        BatchScript script;
        ASSERT_TRUE(script.Introduce());
        script.OfferBatch(selection);
        ASSERT_TRUE(script.Answered(BatchCodes::Accepted));
        script.Record(RecordType::Data, 1, Pattern(1000, 1));
        script.Record(RecordType::End, 1);
        script.Record(RecordType::Data, 2, Pattern(2000, 2));
        script.Record(RecordType::End, 2);
        script.Record(RecordType::Data, 3, Pattern(300000, 3).left(100000));
        const QString partial = receiver.Folder() + QStringLiteral("/d/3.bin.tvx");
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(partial).size() == 100000; }));
        script.Close();
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));

    receiver.filesDone.clear();
    ASSERT_TRUE(Send({Root(QStringLiteral("d"))}));
    const SendOutcome& outcome = ends.last();
    EXPECT_EQ(outcome.kind, Kind::Completed);
    EXPECT_EQ(outcome.filesThere, 2);
    // Only the files that came in this send are named.
    EXPECT_EQ(filesSent, (QStringList{"d/3.bin", "d/4.bin"}));
    EXPECT_EQ(receiver.filesDone, (QStringList{"d/3.bin", "d/4.bin"}));
    EXPECT_EQ(receiver.targets, QStringList{"d"});  // not "d(1)": the same batch goes on
    EXPECT_EQ(TreeListing(receiver.Folder()), TreeListing(Root()));
    EXPECT_FALSE(QFileInfo::exists(receiver.Folder() + QStringLiteral("/d/3.bin.tvx")));
}

TEST_F(BatchNet, HostileBatchesAreTurnedAwayAndWriteNothingOutsideTheFolder) {
    QTemporaryDir outside;
    receiver.Automatically(true);
    // A link that already stands in the folder, to a folder outside it; merged into with
    // "ExistFile", it is still not followed.
    ASSERT_EQ(
        ::symlink(QFile::encodeName(outside.path()).constData(),
                  QFile::encodeName(receiver.Folder() + QStringLiteral("/planted")).constData()),
        0);
    auto file = [](const QString& path, qint64 size = 1) {
        return BatchEntry{false, size, 0, path};
    };
    auto folder = [](const QString& path) { return BatchEntry{true, 0, 0, path}; };
    const QList<QPair<QList<BatchEntry>, BatchStopReason>> cases{
        {{file(QStringLiteral("../escape"))}, BatchStopReason::BadName},
        {{folder(QStringLiteral("a")), file(QStringLiteral("a/../../escape"))},
         BatchStopReason::BadName},
        {{file(QStringLiteral("/tmp/escape"))}, BatchStopReason::BadName},
        {{folder(QStringLiteral("a")), file(QStringLiteral("a/x")), file(QStringLiteral("a/x"))},
         BatchStopReason::Twice},
        {{file(QStringLiteral("a")), file(QStringLiteral("a/x"))}, BatchStopReason::Twice},
        {{file(QStringLiteral("big1"), kMaxBatchFileLength),
          file(QStringLiteral("big2"), kMaxBatchFileLength)},
         BatchStopReason::NoSpace},
    };
    for (const auto& [entries, reason] : cases) {
        BatchScript script;
        ASSERT_TRUE(script.Introduce());
        script.OfferList(entries);
        ASSERT_TRUE(script.Answered(BatchCodes::Stopped)) << entries.last().path.toStdString();
        EXPECT_EQ(script.Stop().reason, reason) << entries.last().path.toStdString();
        script.Close();
        ASSERT_TRUE(WaitUntil(
            [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));
    }
    EXPECT_EQ(receiver.outcomes.size(), cases.size());
    EXPECT_EQ(receiver.outcomes.last().kind, ReceiveOutcome::Kind::NoSpace);

    {
        // More entries than a batch may hold: turned away before the list.
        BatchScript script;
        ASSERT_TRUE(script.Introduce());
        BatchHeader header;
        header.entries = header.files = kMaxBatchEntries + 1;
        script.link.Send(BuildBatchOffer(header));
        ASSERT_TRUE(script.Answered(BatchCodes::Stopped));
        EXPECT_EQ(script.Stop().reason, BatchStopReason::TooMany);
        script.Close();
        ASSERT_TRUE(WaitUntil(
            [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));
    }
    {
        // A top name that is a link takes a numbered name like any other that stands.
        BatchScript script;
        ASSERT_TRUE(script.Introduce());
        script.OfferList({folder(QStringLiteral("planted")), file(QStringLiteral("planted/x"), 3)});
        ASSERT_TRUE(script.Answered(BatchCodes::Accepted));
        script.Record(RecordType::Data, 1, "abc");
        script.Record(RecordType::End, 1);
        ASSERT_TRUE(script.Answered(ProtocolCodes::FileComplete));
        script.Close();
        ASSERT_TRUE(WaitUntil(
            [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));
    }
    {
        // Merged into a folder that stands ("ExistFile"), with a link planted below it: the
        // batch is accepted, but nothing is written through the link.
        ASSERT_TRUE(QDir().mkpath(receiver.Folder() + QStringLiteral("/merged")));
        ASSERT_EQ(::symlink(QFile::encodeName(outside.path()).constData(),
                            QFile::encodeName(receiver.Folder() + QStringLiteral("/merged/planted"))
                                .constData()),
                  0);
        BatchScript script;
        ASSERT_TRUE(script.Introduce());
        script.OfferList(
            {folder(QStringLiteral("merged")), file(QStringLiteral("merged/planted/x"), 3)});
        ASSERT_TRUE(script.Answered(BatchCodes::Accepted));
        script.Record(RecordType::Data, 1, "abc");
        ASSERT_TRUE(script.Answered(BatchCodes::Stopped));
        EXPECT_EQ(script.Stop().reason, BatchStopReason::WriteFailed);
        EXPECT_EQ(receiver.outcomes.last().kind, ReceiveOutcome::Kind::WriteFailed);
        script.Close();
    }
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_EQ(TreeListing(receiver.Folder()),
              "merged/\nmerged/planted ?\nplanted ?\nplanted(1)/\n"
              "planted(1)/x 3 a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace tvx::test
