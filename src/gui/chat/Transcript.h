#pragma once

#include <QAbstractButton>
#include <QDateTime>
#include <QString>
#include <QStringList>

class QAction;
class QMenu;
class QTextEdit;
class QWidget;

namespace tvx {

class DialogService;
class MessageBoxService;
class ShellService;
struct Session;

// The transcript of a chat is a read-only QTextEdit; the input box is a QTextEdit that holds
// one style for all its text. Text is always appended at the end of the transcript, and text
// from a peer is inserted as plain characters with a character format, never read as markup.
// A line break ("\r\n", "\n" or "\r") becomes a new paragraph, so copying gives the lines back.

// Grey of the system lines and chat headers (0x00BBGGRR), always 9 points and plain.
constexpr quint32 kTranscriptGrey = 0xA0A0A0;
constexpr int kTranscriptPointSize = 9;

// Kinds of system line.
enum SystemLineKind {
    SystemLineAutoEnter = 1,  // "自动进入", followed by the automatic reply on its own line
    SystemLineEnter = 2,      // "进入"
    SystemLineLeft = 3,       // "已经离开", after an empty line
    SystemLineLost = 4,       // "意外离开", after an empty line
};

// A transcript keeps at most this many lines (paragraphs) and characters, however long a peer
// keeps sending: beyond either, AppendSystemLine and AppendChatLine drop the oldest lines, and
// one grey line at the top, TrimmedTranscriptLine(), stands for all that went.
constexpr int kTranscriptMaxLines = 10000;
constexpr int kTranscriptMaxCharacters = 1000000;
QString TrimmedTranscriptLine();

// Makes the box a transcript: read-only, rich text, no undo history, 4-pixel left margin, its
// own context menu (the window pops up the transcript menu, see AttachTranscriptMenu).
void PrepareTranscript(QTextEdit* transcript);

// Appends "name 进入聊天室...[3月5日 8:04:09]" and a line break in grey, with two line breaks
// before it for kinds 3 and 4 and, for kind 1, the automatic reply and a line break after it.
// An unknown kind writes the line without a word.
void AppendSystemLine(QTextEdit* transcript, int kind, const QString& name,
                      const QString& autoReplyText, const QDateTime& now);

// Appends a grey header ("\r\n", the name, " ", "h:mm:ss", "\r\n") and then the text from
// character 12 of styledText in the style of its 11-character code (FontStyleCode). A part of
// the code that does not parse (a colour that is not hexadecimal, a size that is not a number
// above 0) keeps the header's value.
void AppendChatLine(QTextEdit* transcript, const QString& senderName, const QString& styledText,
                    const QDateTime& now);

// Input box. PrepareInputBox makes it plain-text only, 9 points, with the given text colour
// (0x00BBGGRR) and a 4-pixel left margin; the style then holds for all its text and survives
// clear(), so FontStyleCode (common/FontStyle.h) of the box always gives the chosen style.
void PrepareInputBox(QTextEdit* inputBox, quint32 colourBgr);
void SetInputColour(QTextEdit* inputBox, quint32 colourBgr);

// The colour dialog: the chosen colour (0x00BBGGRR) as decimal text, or "" when cancelled.
QString ChooseColour(DialogService& dialogs, QWidget* owner);

// ChooseColour, and the chosen colour becomes the input box's text colour; the box takes the
// focus in either case. True when a colour was chosen.
bool ChooseInputColour(DialogService& dialogs, QWidget* owner, QTextEdit* inputBox);

// The 15 captions of the two menus: 0 to 6 the transcript menu, 7 to 14 the font menu;
// "-" is a separator.
const QStringList& TranscriptMenuCaptions();

// Entries of the transcript menu (1-based, separators counted).
enum TranscriptMenuEntry {
    TranscriptCopy = 1,
    TranscriptSelectAll = 2,
    TranscriptClear = 4,
    TranscriptSaveSelection = 6,
    TranscriptSaveAll = 7,
};

// Entries of the font menu (1-based, separators counted).
enum FontMenuEntry {
    FontBold = 1,
    FontItalic = 2,
    FontUnderline = 3,
    FontSize9 = 5,
    FontSize12 = 6,
    FontSize16 = 7,
    FontSize20 = 8,
};

// The two menus of a chat window, for the prefix "mnuCS" or "mnuCR": the transcript menu
// prefix + "Rtx" with entries prefix + "RtxSub1" to "RtxSub7", and the font menu
// prefix + "Font" with entries prefix + "FontSub1" to "FontSub8" (checkable, "9" checked).
// Separators are entries too, so entry numbers match the table. The parent owns the menu.
QMenu* BuildTranscriptMenu(const QString& prefix, QWidget* parent);
QMenu* BuildFontMenu(const QString& prefix, QWidget* parent);

// Entry number (1-based) of an action of the menu, 0 when it is not one; and the reverse.
int MenuEntryNumber(const QMenu* menu, const QAction* action);
QAction* MenuEntry(const QMenu* menu, int entry);

// Enables the transcript menu's entries for the transcript: copy and save selection need a
// selection, select all, clear and save all need some text.
void EnableTranscriptMenu(QMenu* transcriptMenu, const QTextEdit* transcript);

// Applies a font menu entry to the input box. A checkable QAction has already toggled its check
// mark when it is triggered, so bold, italic and underline follow the item's check as it
// stands; sizes 9, 12, 16, 20 set the size. Then the 4-pixel left margin.
void ApplyFontMenuItem(int entry, QAction* item, QTextEdit* inputBox);

// What a window does when a font menu entry has been triggered: for the sizes, exactly the
// chosen size entry is left checked (choosing the checked size again keeps it); then
// ApplyFontMenuItem.
void ChooseFontMenuItem(QMenu* fontMenu, int entry, QTextEdit* inputBox);

// Carries out a transcript menu entry: copy (plain text to the clipboard), select all, clear,
// save selection, save all. Separators and unknown entries do nothing.
void TranscriptMenuCommand(Session& session, QWidget* owner, QTextEdit* transcript, int entry);

// Asks for an RTF file ("Chat.rtf" proposed) and writes the selection or the whole transcript
// to it; ".rtf" is appended unless the path ends in exactly ".rtf". A failure is shown as
// "保存文字时错误:" and the reason. Cancelling writes nothing. True when a file was written.
bool SaveSelectionAsRtf(Session& session, QWidget* owner, const QTextEdit* transcript);
bool SaveAllAsRtf(Session& session, QWidget* owner, const QTextEdit* transcript);

// Wires a window's menus: the transcript's right click enables and pops up the transcript
// menu, whose entries run TranscriptMenuCommand with the owner; the font menu's entries run
// ChooseFontMenuItem on the input box, which then takes the focus.
void AttachTranscriptMenu(Session& session, QWidget* owner, QTextEdit* transcript,
                          QMenu* transcriptMenu);
void AttachFontMenu(QMenu* fontMenu, QTextEdit* inputBox);

// The left inner margin of a QTextEdit, QPlainTextEdit or QLineEdit, in pixels.
void SetLeftMargin(QWidget* box, int pixels);

// Flashes the window's taskbar entry once to draw the user's attention.
void FlashWindow(QWidget* window);

// An image button of the chat page: a picture drawn in code that shows a highlight while the
// pointer is over it and emits clicked() when the left button is pressed on it.
class ImageButton : public QAbstractButton {
    Q_OBJECT

public:
    enum Picture {
        PictureColour,  // text colour
        PictureFont,    // font menu
        PicturePeer,    // peer info
    };

    explicit ImageButton(Picture picture, QWidget* parent = nullptr);

    Picture picture() const { return m_picture; }
    bool isHighlighted() const { return m_highlighted; }
    // The colour (0x00BBGGRR) the colour picture shows; the window keeps it on the input's.
    void setSwatchColour(quint32 colourBgr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SetHighlighted(bool on);

    Picture m_picture;
    bool m_highlighted = false;
    quint32 m_swatch = 0x000000;
};

// The style code of a text box's current character format.
QString FontStyleCode(const QTextEdit* textBox);

}  // namespace tvx
