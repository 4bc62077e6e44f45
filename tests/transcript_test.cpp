#include "chat/Transcript.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "chat/RtfWriter.h"
#include "common/FontStyle.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Render.h"

using namespace tvx;
using namespace tvx::test;

namespace {

const QDateTime kNow(QDate(2007, 3, 5), QTime(8, 4, 9));
const QColor kGrey(0xA0, 0xA0, 0xA0);

// What one character of a transcript looks like; a paragraph break is '\n' without a style.
struct Styled {
    QChar ch;
    QRgb colour = 0;
    int halfPoints = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool operator==(const Styled& o) const {
        return ch == o.ch && colour == o.colour && halfPoints == o.halfPoints && bold == o.bold &&
               italic == o.italic && underline == o.underline;
    }
};

std::ostream& operator<<(std::ostream& os, const Styled& s) {
    return os << "'" << QString(s.ch).toStdString() << "' #" << std::hex << s.colour << std::dec
              << " fs" << s.halfPoints << (s.bold ? " b" : "") << (s.italic ? " i" : "")
              << (s.underline ? " ul" : "");
}

Styled StyleOf(QChar ch, const QTextCharFormat& f) {
    return {ch,
            f.foreground().color().rgb() & 0xFFFFFF,
            int(f.fontPointSize() * 2),
            f.fontWeight() > QFont::Medium,
            f.fontItalic(),
            f.fontUnderline()};
}

// The document's characters from start to end with their formats.
QList<Styled> StyledText(const QTextDocument* doc, int start = 0, int end = -1) {
    if (end < 0)
        end = doc->characterCount() - 1;
    QList<Styled> out;
    for (int pos = start; pos < end; ++pos) {
        const QChar ch = doc->characterAt(pos);
        if (ch == QChar::ParagraphSeparator) {
            out.append({QLatin1Char('\n')});
            continue;
        }
        QTextCursor cursor(const_cast<QTextDocument*>(doc));
        cursor.setPosition(pos + 1);
        out.append(StyleOf(ch, cursor.charFormat()));
    }
    return out;
}

QTextCharFormat FormatAt(const QTextEdit& box, int pos) {
    QTextCursor cursor(box.document());
    cursor.setPosition(pos + 1);
    return cursor.charFormat();
}

// A reader for the part of RTF the transcript writes: groups, the colour table, \cf, \fs, \b,
// \i, \ul, \par, \line, \tab, \uN with one fallback character, and escaped \ { }.
QList<Styled> ReadRtf(const QByteArray& rtf) {
    struct State {
        int cf = 0;
        int fs = 24;
        bool b = false, i = false, ul = false;
        bool skip = false;     // inside the font table
        bool colours = false;  // inside the colour table
    };
    QList<State> stack{State()};
    QList<QRgb> table{0};  // the table's leading ";" is the automatic colour, entry 0
    int red = 0, green = 0, blue = 0;
    bool colourSeen = false;
    int skipFallback = 0;
    QList<Styled> out;
    auto put = [&](QChar ch) {
        const State& s = stack.last();
        if (s.skip || s.colours)
            return;
        if (ch == QLatin1Char('\n')) {
            out.append({ch});
            return;
        }
        out.append({ch, s.cf < table.size() ? table[s.cf] : 0xDEAD, s.fs, s.b, s.i, s.ul});
    };
    for (int k = 0; k < rtf.size();) {
        const char c = rtf[k];
        if (c == '{') {
            stack.append(stack.last());
            ++k;
        } else if (c == '}') {
            stack.removeLast();
            ++k;
        } else if (c == '\r' || c == '\n') {
            ++k;
        } else if (c == '\\') {
            ++k;
            const char n = rtf[k];
            if (n == '\\' || n == '{' || n == '}') {
                put(QLatin1Char(n));
                ++k;
                continue;
            }
            QByteArray word;
            while (k < rtf.size() && isalpha(uchar(rtf[k])))
                word += rtf[k++];
            QByteArray number;
            if (k < rtf.size() && rtf[k] == '-')
                number += rtf[k++];
            while (k < rtf.size() && isdigit(uchar(rtf[k])))
                number += rtf[k++];
            if (k < rtf.size() && rtf[k] == ' ')
                ++k;
            const bool hasNumber = !number.isEmpty();
            const int value = number.toInt();
            State& s = stack.last();
            if (word == "fonttbl")
                s.skip = true;
            else if (word == "colortbl")
                s.colours = true;
            else if (word == "red" || word == "green" || word == "blue") {
                (word == "red" ? red : word == "green" ? green : blue) = value;
                colourSeen = true;
            } else if (word == "cf")
                s.cf = value;
            else if (word == "fs")
                s.fs = value;
            else if (word == "b")
                s.b = !hasNumber || value != 0;
            else if (word == "i")
                s.i = !hasNumber || value != 0;
            else if (word == "ul")
                s.ul = !hasNumber || value != 0;
            else if (word == "ulnone")
                s.ul = false;
            else if (word == "par" || word == "line")
                put(QLatin1Char('\n'));
            else if (word == "tab")
                put(QLatin1Char('\t'));
            else if (word == "u") {
                put(QChar(ushort(value < 0 ? value + 65536 : value)));
                skipFallback = 1;
            }
        } else {
            ++k;
            if (skipFallback > 0) {
                --skipFallback;
                continue;
            }
            if (stack.last().colours) {
                if (c == ';') {
                    if (colourSeen)
                        table.append(qRgb(red, green, blue) & 0xFFFFFF);
                    red = green = blue = 0;
                    colourSeen = false;
                }
                continue;
            }
            put(QLatin1Char(c));
        }
    }
    return out;
}

// A transcript of the kinds of line a chat produces.
void FillSample(QTextEdit& transcript) {
    AppendSystemLine(&transcript, SystemLineEnter, QStringLiteral("小明"), QString(), kNow);
    AppendChatLine(&transcript, QStringLiteral("小明"),
                   FontStyleCode(0x0000FF, true, false, false, 12) + QStringLiteral("你好,聊天吗?"),
                   kNow);
    AppendChatLine(&transcript, QStringLiteral("abc"),
                   FontStyleCode(0xFF8000, false, true, true, 16) +
                       QStringLiteral("Sure {braces} \\slash\r\n第二行 龙"),
                   kNow);
    AppendChatLine(&transcript, QStringLiteral("小明"),
                   FontStyleCode(0x008000, false, false, false, 20) + QStringLiteral("大字"), kNow);
    AppendSystemLine(&transcript, SystemLineLeft, QStringLiteral("abc"), QString(), kNow);
}

}  // namespace

TEST(Transcript, SystemLinesOfTheFourKindsInGrey) {
    QTextEdit transcript;
    PrepareTranscript(&transcript);
    const QString name = QStringLiteral("abc");
    AppendSystemLine(&transcript, SystemLineAutoEnter, name, QStringLiteral("我不在,稍后回复。"),
                     kNow);
    AppendSystemLine(&transcript, SystemLineEnter, name, QStringLiteral("not shown"), kNow);
    AppendSystemLine(&transcript, SystemLineLeft, name, QString(), kNow);
    AppendSystemLine(&transcript, SystemLineLost, name, QString(), kNow);
    EXPECT_EQ(transcript.toPlainText(), QStringLiteral("abc 自动进入聊天室...[3月5日 8:04:09]\n"
                                                       "我不在,稍后回复。\n"
                                                       "abc 进入聊天室...[3月5日 8:04:09]\n"
                                                       "\n\n"
                                                       "abc 已经离开聊天室...[3月5日 8:04:09]\n"
                                                       "\n\n"
                                                       "abc 意外离开聊天室...[3月5日 8:04:09]\n"));
    EXPECT_EQ(name, QStringLiteral("abc"));
    for (const Styled& s : StyledText(transcript.document())) {
        if (s.ch == QLatin1Char('\n'))
            continue;
        EXPECT_EQ(s, (Styled{s.ch, kGrey.rgb() & 0xFFFFFF, 18, false, false, false}));
    }
    EXPECT_TRUE(transcript.isReadOnly());
}

TEST(Transcript, ChatLinesTakeTheSendersStyle) {
    QTextEdit transcript;
    PrepareTranscript(&transcript);
    // Red bold underlined 12 points, with markup that must stay text.
    AppendChatLine(&transcript, QStringLiteral("abc"),
                   QStringLiteral("FF    10112") +
                       QStringLiteral("<b>x</b> **y** &amp; <img src=a.png>\r\n第二行"),
                   QDateTime(QDate(2007, 3, 5), QTime(18, 4, 9)));
    const QString text = transcript.toPlainText();
    EXPECT_EQ(text, QStringLiteral("\nabc 18:04:09\n<b>x</b> **y** &amp; <img src=a.png>\n第二行"));
    EXPECT_EQ(StyleOf(' ', FormatAt(transcript, 1)),
              (Styled{' ', kGrey.rgb() & 0xFFFFFF, 18, false, false, false}));
    const int body = text.indexOf(QLatin1Char('<'));
    for (int pos : {body, int(text.size()) - 1}) {
        EXPECT_EQ(StyleOf(' ', FormatAt(transcript, pos)),
                  (Styled{' ', 0xFF0000, 24, true, false, true}));
    }
    EXPECT_TRUE(transcript.document()->allFormats().size() > 0);
    EXPECT_FALSE(transcript.toHtml().contains(QLatin1String("<img")));

    // Sizes as they travel: "9 " is 9 points, 10.5 travels as "10"; colours are 0x00BBGGRR.
    struct Case {
        QString code;
        Styled expected;
    } cases[] = {
        {FontStyleCode(0x8000FF, false, true, false, 9), {' ', 0xFF0080, 18, false, true, false}},
        {FontStyleCode(0x000000, false, false, false, 10.5),
         {' ', 0x000000, 20, false, false, false}},
        // Nothing of colour or size parses: both keep the header's grey 9 points.
        {QStringLiteral("zz    111ab"), {' ', 0xA0A0A0, 18, true, true, true}},
        {QStringLiteral(" FF   0x0 0"), {' ', 0xA0A0A0, 18, false, false, false}},
        {QStringLiteral("FFFFFF2220."), {' ', 0xFFFFFF, 18, false, false, false}},
    };
    for (const Case& c : cases) {
        QTextEdit box;
        AppendChatLine(&box, QStringLiteral("p"), c.code + QStringLiteral("T"), kNow);
        ASSERT_TRUE(box.toPlainText().endsWith(QLatin1String("\nT"))) << c.code.toStdString();
        EXPECT_EQ(StyleOf(' ', FormatAt(box, box.toPlainText().size() - 1)), c.expected)
            << c.code.toStdString();
    }

    // A text shorter than its style code shows only the header.
    QTextEdit shortBox;
    AppendChatLine(&shortBox, QStringLiteral("p"), QStringLiteral("FF"), kNow);
    EXPECT_EQ(shortBox.toPlainText(), QStringLiteral("\np 8:04:09\n"));
}

TEST(Transcript, InputBoxKeepsItsStyleThroughMenusColoursAndClearing) {
    FakePlatform fake;
    QWidget window;
    auto* input = new QTextEdit(&window);
    PrepareInputBox(input, 0xFF8000);
    EXPECT_EQ(FontStyleCode(input), QStringLiteral("FF8000") + QStringLiteral("0009 "));

    QMenu* font = BuildFontMenu(QStringLiteral("mnuCS"), &window);
    AttachFontMenu(font, input);
    EXPECT_EQ(font->objectName(), QStringLiteral("mnuCSFont"));
    QStringList captions;
    for (QAction* a : font->actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions, TranscriptMenuCaptions().mid(7));
    auto checkedSizes = [&] {
        QStringList checked;
        for (int entry = FontSize9; entry <= FontSize20; ++entry) {
            if (MenuEntry(font, entry)->isChecked())
                checked << MenuEntry(font, entry)->text();
        }
        return checked;
    };
    EXPECT_EQ(checkedSizes(), QStringList{QStringLiteral("9")});

    input->setPlainText(QStringLiteral("typed"));
    font->findChild<QAction*>(QStringLiteral("mnuCSFontSub7"))->trigger();  // "16"
    EXPECT_EQ(checkedSizes(), QStringList{QStringLiteral("16")});
    MenuEntry(font, FontSize16)->trigger();  // choosing the checked size keeps it checked
    EXPECT_EQ(checkedSizes(), QStringList{QStringLiteral("16")});
    MenuEntry(font, FontBold)->trigger();
    MenuEntry(font, FontUnderline)->trigger();
    EXPECT_EQ(FontStyleCode(input), QStringLiteral("FF8000") + QStringLiteral("10116"));
    EXPECT_EQ(StyleOf(' ', FormatAt(*input, 2)), (Styled{' ', 0x0080FF, 32, true, false, true}));
    MenuEntry(font, FontBold)->trigger();
    EXPECT_FALSE(MenuEntry(font, FontBold)->isChecked());
    EXPECT_EQ(FontStyleCode(input), QStringLiteral("FF8000") + QStringLiteral("00116"));

    // The colour dialog: cancelled changes nothing; a colour becomes the box's colour.
    EXPECT_EQ(ChooseColour(*fake.dialogs, &window), QString());
    EXPECT_FALSE(ChooseInputColour(*fake.dialogs, &window, input));
    EXPECT_EQ(FontStyleCode(input).left(6), QStringLiteral("FF8000"));
    fake.dialogs->colors << 0x0000FF << 0x123456;
    EXPECT_EQ(ChooseColour(*fake.dialogs, &window), QStringLiteral("255"));
    EXPECT_TRUE(ChooseInputColour(*fake.dialogs, &window, input));
    EXPECT_EQ(FontStyleCode(input), QStringLiteral("123456") + QStringLiteral("00116"));

    // Sending empties the box; the next text is typed in the same style.
    input->clear();
    EXPECT_EQ(FontStyleCode(input), QStringLiteral("123456") + QStringLiteral("00116"));
    QTest::keyClicks(input, QStringLiteral("next"));
    EXPECT_EQ(StyleOf(' ', FormatAt(*input, 1)), (Styled{' ', 0x563412, 32, false, false, true}));
    // Rich text pasted into the box arrives as plain text in the box's style.
    EXPECT_FALSE(input->acceptRichText());
}

TEST(Transcript, MenuEnablingAndCommands) {
    QTemporaryDir dir;
    FakePlatform fake(dir.path());
    Session session(fake.platform);
    QWidget window;
    auto* transcript = new QTextEdit(&window);
    PrepareTranscript(transcript);
    QMenu* menu = BuildTranscriptMenu(QStringLiteral("mnuCR"), &window);
    AttachTranscriptMenu(session, &window, transcript, menu);
    EXPECT_EQ(menu->objectName(), QStringLiteral("mnuCRRtx"));
    EXPECT_EQ(menu->findChild<QAction*>(QStringLiteral("mnuCRRtxSub6"))->text(),
              QStringLiteral("保存选择(&S)"));
    EXPECT_TRUE(MenuEntry(menu, 3)->isSeparator());
    EXPECT_TRUE(MenuEntry(menu, 5)->isSeparator());

    auto enabled = [&] {
        EnableTranscriptMenu(menu, transcript);
        QString bits;
        for (int entry : {1, 2, 4, 6, 7})
            bits += MenuEntry(menu, entry)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return bits;
    };
    EXPECT_EQ(enabled(), QStringLiteral("00000"));
    FillSample(*transcript);
    // The right click enables the entries before the menu shows.
    emit transcript->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(menu->isVisible());
    EXPECT_TRUE(MenuEntry(menu, TranscriptSaveAll)->isEnabled());
    EXPECT_FALSE(MenuEntry(menu, TranscriptSaveSelection)->isEnabled());
    menu->hide();
    EXPECT_EQ(enabled(), QStringLiteral("01101"));

    // Select all, then copy gives the lines as plain text.
    MenuEntry(menu, TranscriptSelectAll)->trigger();
    EXPECT_EQ(enabled(), QStringLiteral("11111"));
    MenuEntry(menu, TranscriptCopy)->trigger();
    EXPECT_EQ(fake.shell->clipboard, transcript->toPlainText());
    EXPECT_TRUE(fake.shell->clipboard.contains(QStringLiteral("\nabc 8:04:09\nSure {braces}")));

    // A selection within one line.
    QTextCursor part(transcript->document());
    part.setPosition(transcript->toPlainText().indexOf(QStringLiteral("聊天吗")));
    part.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 3);
    transcript->setTextCursor(part);
    TranscriptMenuCommand(session, &window, transcript, TranscriptCopy);
    EXPECT_EQ(fake.shell->clipboard, QStringLiteral("聊天吗"));

    // New lines do not take away a selection the user holds.
    AppendSystemLine(transcript, SystemLineEnter, QStringLiteral("x"), QString(), kNow);
    EXPECT_EQ(transcript->textCursor().selectedText(), QStringLiteral("聊天吗"));

    TranscriptMenuCommand(session, &window, transcript, 3);  // a separator does nothing
    MenuEntry(menu, TranscriptClear)->trigger();
    EXPECT_TRUE(transcript->document()->isEmpty());
    EXPECT_EQ(enabled(), QStringLiteral("00000"));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

TEST(Transcript, SavingNamesTheFileAndReportsFailure) {
    QTemporaryDir dir;
    FakePlatform fake(dir.path());
    Session session(fake.platform);
    QTextEdit transcript;
    PrepareTranscript(&transcript);
    FillSample(transcript);
    const QString folder = dir.path() + QStringLiteral("/out");
    QDir().mkpath(folder);

    // Cancelled: nothing written, nothing said.
    EXPECT_FALSE(SaveAllAsRtf(session, nullptr, &transcript));
    ASSERT_EQ(fake.dialogs->requests.size(), 1);
    const ScriptedDialogs::Request asked = fake.dialogs->requests[0];
    EXPECT_EQ(asked.kind, QStringLiteral("save"));
    EXPECT_EQ(asked.title, QStringLiteral("保存"));
    EXPECT_EQ(asked.proposedName, QStringLiteral("Chat.rtf"));
    EXPECT_EQ(asked.filter.pattern, QStringLiteral("*.rtf"));

    fake.dialogs->paths << folder + QStringLiteral("/chat") << folder + QStringLiteral("/x.RTF")
                        << folder + QStringLiteral("/kept.rtf") + QChar(0) + QStringLiteral("junk");
    EXPECT_TRUE(SaveAllAsRtf(session, nullptr, &transcript));
    EXPECT_TRUE(SaveAllAsRtf(session, nullptr, &transcript));
    EXPECT_TRUE(SaveSelectionAsRtf(session, nullptr, &transcript));
    QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names, (QStringList{QStringLiteral("chat.rtf"), QStringLiteral("kept.rtf"),
                                  QStringLiteral("x.RTF.rtf")}));
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());

    // A folder that does not exist: the error names the reason, and no file appears.
    fake.dialogs->paths << dir.path() + QStringLiteral("/gone/chat.rtf");
    EXPECT_FALSE(SaveAllAsRtf(session, nullptr, &transcript));
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    const auto& shown = fake.messageBox->shown[0];
    EXPECT_EQ(shown.title, QStringLiteral("错误"));
    EXPECT_TRUE(shown.text.startsWith(QStringLiteral("保存文字时错误:")));
    EXPECT_GT(shown.text.size(), QStringLiteral("保存文字时错误:").size());
    EXPECT_FALSE(shown.style.systemModal);
    EXPECT_FALSE(QDir(dir.path() + QStringLiteral("/gone")).exists());
}

TEST(Transcript, RtfGivesBackTextAndStyles) {
    QTemporaryDir dir;
    FakePlatform fake(dir.path());
    Session session(fake.platform);
    QTextEdit transcript;
    PrepareTranscript(&transcript);
    FillSample(transcript);
    const QTextDocument* doc = transcript.document();

    const QString allPath = dir.path() + QStringLiteral("/all.rtf");
    fake.dialogs->paths << allPath;
    ASSERT_TRUE(SaveAllAsRtf(session, nullptr, &transcript));
    const QByteArray all = ReadAll(allPath);
    EXPECT_TRUE(all.startsWith("{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl"));
    EXPECT_TRUE(all.endsWith("}\r\n"));
    for (const char c : all)
        ASSERT_TRUE(uchar(c) < 0x80) << "not ASCII";
    // 聊 (U+804A) is above 0x7FFF and travels as a negative number.
    EXPECT_TRUE(all.contains("\\u-32694?"));
    EXPECT_TRUE(all.contains("Sure \\{braces\\} \\\\slash"));

    const QList<Styled> expected = StyledText(doc);
    const QList<Styled> read = ReadRtf(all);
    ASSERT_EQ(read.size(), expected.size());
    for (int i = 0; i < read.size(); ++i)
        ASSERT_EQ(read[i], expected[i]) << "at " << i;
    // A sample of what the reader saw, so the comparison above cannot pass by two empty lists.
    QString readText;
    for (const Styled& s : read)
        readText += s.ch;
    EXPECT_EQ(readText, transcript.toPlainText());

    // A selection from the middle of a header to the middle of a chat text in another style.
    const QString plain = transcript.toPlainText();
    const int start = plain.indexOf(QStringLiteral("abc 8:04:09")) + 2;
    const int end = plain.indexOf(QStringLiteral("第二行")) + 2;
    QTextCursor selection(transcript.document());
    selection.setPosition(start);
    selection.setPosition(end, QTextCursor::KeepAnchor);
    transcript.setTextCursor(selection);
    const QString partPath = dir.path() + QStringLiteral("/part.rtf");
    fake.dialogs->paths << partPath;
    ASSERT_TRUE(SaveSelectionAsRtf(session, nullptr, &transcript));
    const QByteArray part = ReadAll(partPath);
    EXPECT_TRUE(part.endsWith("}\r\n"));
    EXPECT_FALSE(part.endsWith("}\r\n\r\n"));
    const QList<Styled> partRead = ReadRtf(part);
    const QList<Styled> partExpected = StyledText(doc, start, end);
    ASSERT_EQ(partRead.size(), partExpected.size());
    for (int i = 0; i < partRead.size(); ++i)
        ASSERT_EQ(partRead[i], partExpected[i]) << "at " << i;
    EXPECT_EQ(partRead.first().ch, QLatin1Char('c'));
    EXPECT_EQ(partRead.last().ch, QStringLiteral("二")[0]);
    EXPECT_TRUE(partRead.last().italic);

    // A sample for opening in a word processor by hand.
    QDir().mkpath(QStringLiteral(TOLVEX_SCREENSHOT_DIR));
    WriteFile(QStringLiteral(TOLVEX_SCREENSHOT_DIR "/transcript_sample.rtf"), all);
}

// However long a peer keeps sending, the transcript holds its bounds of characters and of
// lines: the oldest lines go, one grey line at the top stands for them, nothing is kept for
// undoing, and the whole still saves.
TEST(Transcript, KeepsTheLatestLinesWithinItsBoundsAndStillSaves) {
    QTemporaryDir dir;
    FakePlatform fake(dir.path());
    Session session(fake.platform);
    QTextEdit transcript;
    PrepareTranscript(&transcript);
    const QTextDocument* doc = transcript.document();
    const QString style = FontStyleCode(0x0000FF, true, false, false, 12);

    // Texts as long as the input box allows, twice what the bound of characters holds.
    const int longTexts = 2 * kTranscriptMaxCharacters / 4000;
    for (int k = 0; k < longTexts; ++k) {
        AppendChatLine(&transcript, QStringLiteral("p"),
                       style + QString::number(k) + QString(4000, QLatin1Char('x')), kNow);
        ASSERT_LE(doc->characterCount(), kTranscriptMaxCharacters) << "after text " << k;
    }
    EXPECT_EQ(doc->firstBlock().text(), TrimmedTranscriptLine());
    EXPECT_EQ(StyleOf(' ', FormatAt(transcript, 0)),
              (Styled{' ', kGrey.rgb() & 0xFFFFFF, 18, false, false, false}));
    EXPECT_TRUE(doc->lastBlock().text().startsWith(QString::number(longTexts - 1) + 'x'));
    EXPECT_EQ(transcript.toPlainText().count(TrimmedTranscriptLine()), 1);

    // Short texts of three lines each (empty, header, text), twice what the bound holds.
    const int shortTexts = 2 * kTranscriptMaxLines / 3;
    for (int k = 0; k < shortTexts; ++k) {
        AppendChatLine(&transcript, QStringLiteral("p"), style + QString::number(k), kNow);
        ASSERT_LE(doc->blockCount(), kTranscriptMaxLines) << "after line " << k;
    }
    AppendSystemLine(&transcript, SystemLineLeft, QStringLiteral("p"), QString(), kNow);
    EXPECT_LE(doc->blockCount(), kTranscriptMaxLines);
    const QString plain = transcript.toPlainText();
    EXPECT_TRUE(plain.startsWith(TrimmedTranscriptLine() + '\n'));
    EXPECT_EQ(plain.count(TrimmedTranscriptLine()), 1);
    EXPECT_FALSE(plain.contains(QLatin1String("xxxx")));
    EXPECT_TRUE(plain.endsWith(QString::number(shortTexts - 1) +
                               QStringLiteral("\n\np 已经离开聊天室...[3月5日 8:04:09]\n")));
    EXPECT_FALSE(doc->isUndoRedoEnabled());
    EXPECT_EQ(doc->availableUndoSteps(), 0);

    const QString path = dir.path() + QStringLiteral("/trimmed.rtf");
    fake.dialogs->paths << path;
    ASSERT_TRUE(SaveAllAsRtf(session, nullptr, &transcript));
    const QList<Styled> read = ReadRtf(ReadAll(path));
    QString readText;
    for (const Styled& s : read)
        readText += s.ch;
    EXPECT_EQ(readText, plain);
    ASSERT_FALSE(read.isEmpty());
    EXPECT_EQ(read.first(), (Styled{'(', kGrey.rgb() & 0xFFFFFF, 18, false, false, false}));

    // Emptied by the user, the transcript starts afresh, still without an undo history.
    transcript.clear();
    AppendSystemLine(&transcript, SystemLineEnter, QStringLiteral("p"), QString(), kNow);
    EXPECT_FALSE(transcript.toPlainText().contains(TrimmedTranscriptLine()));
    EXPECT_FALSE(doc->isUndoRedoEnabled());
}

TEST(Transcript, MarginsAndImageButtons) {
    QLineEdit code;
    SetLeftMargin(&code, 2);
    EXPECT_EQ(code.textMargins().left(), 2);
    QTextEdit transcript;
    SetLeftMargin(&transcript, 4);
    transcript.setPlainText(QStringLiteral("x"));
    transcript.clear();
    EXPECT_EQ(transcript.document()->documentMargin(), 4);

    ImageButton button(ImageButton::PictureFont);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    EXPECT_FALSE(button.isHighlighted());
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(&button, &enter);
    EXPECT_TRUE(button.isHighlighted());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.isHighlighted());

    // It acts when the left button goes down, not again when it comes up; the right does nothing.
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    QTest::mouseRelease(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::RightButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(Transcript, SampleRendering) {
    QWidget page;
    page.resize(420, 380);
    auto* layout = new QVBoxLayout(&page);
    auto* transcript = new QTextEdit(&page);
    PrepareTranscript(transcript);
    AppendSystemLine(transcript, SystemLineAutoEnter, QStringLiteral("小明"),
                     QStringLiteral("我现在不在,稍后回复。"), kNow);
    FillSample(*transcript);
    AppendSystemLine(transcript, SystemLineLost, QStringLiteral("小明"), QString(), kNow);
    layout->addWidget(transcript, 1);
    auto* buttons = new QHBoxLayout;
    auto* colour = new ImageButton(ImageButton::PictureColour, &page);
    colour->setSwatchColour(0xFF8000);
    auto* font = new ImageButton(ImageButton::PictureFont, &page);
    auto* peer = new ImageButton(ImageButton::PicturePeer, &page);
    buttons->addWidget(colour);
    buttons->addWidget(font);
    buttons->addWidget(peer);
    buttons->addStretch();
    layout->addLayout(buttons);
    auto* input = new QTextEdit(&page);
    PrepareInputBox(input, 0xFF8000);
    input->setPlainText(QStringLiteral("输入的文字"));
    input->setMaximumHeight(60);
    layout->addWidget(input);
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(font, &enter);
    EXPECT_TRUE(RenderToPng(page, QStringLiteral("transcript_page")));

    QMenu* rtx = BuildTranscriptMenu(QStringLiteral("mnuCS"), &page);
    EnableTranscriptMenu(rtx, transcript);
    QMenu* fontMenu = BuildFontMenu(QStringLiteral("mnuCS"), &page);
    MenuEntry(fontMenu, FontBold)->setChecked(true);
    EXPECT_TRUE(RenderToPng(*rtx, QStringLiteral("transcript_menu")));
    EXPECT_TRUE(RenderToPng(*fontMenu, QStringLiteral("transcript_font_menu")));
}
