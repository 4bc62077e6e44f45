#include "chat/Transcript.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>

#include "chat/RtfWriter.h"
#include "common/FontStyle.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "session/Session.h"
#include "texts/ChatTexts.h"

namespace tvx {

namespace {

// The input box's chosen style, kept on the box so that it outlives clear().
const char kInputFormatProperty[] = "tvxInputFormat";

constexpr int kBoxMargin = 4;

// The block state that marks the line standing for the dropped ones.
constexpr int kTrimmedLineState = 0x7478;

QColor ColourOfBgr(quint32 bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

QTextCharFormat GreyFormat() {
    QTextCharFormat format;
    format.setForeground(ColourOfBgr(kTranscriptGrey));
    format.setFontPointSize(kTranscriptPointSize);
    format.setFontWeight(QFont::Normal);
    format.setFontItalic(false);
    format.setFontUnderline(false);
    return format;
}

// Inserts the text at the end of the transcript as plain characters in one format. Every kind
// of line break becomes a new paragraph; characters the document would read as structure are
// replaced, so nothing a peer sends can change more than the text.
void AppendPlain(QTextEdit* transcript, const QString& text, const QTextCharFormat& format) {
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    plain.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    for (QChar& ch : plain) {
        const ushort code = ch.unicode();
        if (code == 0xFDD0 || code == 0xFDD1 || code == QChar::ObjectReplacementCharacter ||
            code == 0)
            ch = QChar::ReplacementCharacter;
    }

    QTextCursor cursor(transcript->document());
    cursor.movePosition(QTextCursor::End);
    const QStringList lines = plain.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock(QTextBlockFormat(), format);
        if (!lines[i].isEmpty())
            cursor.insertText(lines[i], format);
    }
}

// Drops the oldest lines once the transcript passes a bound, down to nine tenths of it so that
// this happens once in many lines; the last line always stays. The first dropping puts the
// grey line that says so at the top, later ones drop the lines below it.
void KeepWithinBounds(QTextEdit* transcript) {
    QTextDocument* document = transcript->document();
    int lines = document->blockCount();
    int characters = document->characterCount();
    if (lines <= kTranscriptMaxLines && characters <= kTranscriptMaxCharacters)
        return;
    QTextBlock from = document->firstBlock();
    const bool marked = from.userState() == kTrimmedLineState;
    if (marked) {
        --lines;
        characters -= from.length();
        from = from.next();
    }
    QTextBlock keep = from;
    while (keep != document->lastBlock() && (lines > kTranscriptMaxLines * 9 / 10 ||
                                             characters > kTranscriptMaxCharacters * 9 / 10)) {
        --lines;
        characters -= keep.length();
        keep = keep.next();
    }
    if (keep == from)
        return;
    QTextCursor cursor(document);
    cursor.setPosition(from.position());
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (marked)
        return;
    cursor.setPosition(0);
    cursor.insertText(TrimmedTranscriptLine(), GreyFormat());
    cursor.insertBlock(QTextBlockFormat(), GreyFormat());
    document->firstBlock().setUserState(kTrimmedLineState);
}

// Brings the end into view, unless the user is holding a selection in the transcript.
void ShowEnd(QTextEdit* transcript) {
    if (transcript->textCursor().hasSelection())
        return;
    QTextCursor end(transcript->document());
    end.movePosition(QTextCursor::End);
    transcript->setTextCursor(end);
    transcript->ensureCursorVisible();
}

// The style of a chat text's 11-character code, over the grey header's values.
QTextCharFormat FormatOfStyleCode(const QString& code) {
    QTextCharFormat format = GreyFormat();

    const QString size = code.mid(9, 2);
    const double points = LenientNumber(size);
    if (points > 0)
        format.setFontPointSize(points);

    QString hex = code.left(6);
    while (hex.endsWith(QLatin1Char(' ')))
        hex.chop(1);
    bool isHex = !hex.isEmpty();
    for (const QChar ch : hex) {
        const ushort c = ch.unicode();
        isHex =
            isHex && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'));
    }
    if (isHex)
        format.setForeground(ColourOfBgr(hex.toUInt(nullptr, 16)));

    format.setFontWeight(code.mid(6, 1) == QLatin1String("1") ? QFont::Bold : QFont::Normal);
    format.setFontItalic(code.mid(7, 1) == QLatin1String("1"));
    format.setFontUnderline(code.mid(8, 1) == QLatin1String("1"));
    return format;
}

// Merges the format into all the input box's text, its typing format and the kept style.
void MergeInputFormat(QTextEdit* inputBox, const QTextCharFormat& change) {
    QTextCharFormat kept =
        inputBox->property(kInputFormatProperty).value<QTextFormat>().toCharFormat();
    kept.merge(change);
    inputBox->setProperty(kInputFormatProperty, QVariant::fromValue(QTextFormat(kept)));

    QTextCursor all(inputBox->document());
    all.select(QTextCursor::Document);
    all.mergeCharFormat(change);
    inputBox->mergeCurrentCharFormat(change);

    QFont font = inputBox->document()->defaultFont();
    if (kept.hasProperty(QTextFormat::FontPointSize))
        font.setPointSizeF(kept.fontPointSize());
    font.setBold(kept.fontWeight() > QFont::Medium);
    font.setItalic(kept.fontItalic());
    font.setUnderline(kept.fontUnderline());
    inputBox->document()->setDefaultFont(font);
}

void AddEntries(QMenu* menu, const QString& subName, int first, int count, bool checkable) {
    const QStringList& captions = TranscriptMenuCaptions();
    for (int i = 0; i < count; ++i) {
        const QString& caption = captions[first + i];
        QAction* action =
            caption == QLatin1String("-") ? menu->addSeparator() : menu->addAction(caption);
        action->setObjectName(subName + QString::number(i + 1));
        if (checkable && !action->isSeparator())
            action->setCheckable(true);
    }
}

bool SaveAsRtf(Session& session, QWidget* owner, const QTextEdit* transcript, bool selectionOnly) {
    QString path =
        CutAtNul(ChooseSaveFile(session.dialogs(), owner, QStringLiteral("Chat.rtf"), false));
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QLatin1String(".rtf"), Qt::CaseSensitive))
        path += QLatin1String(".rtf");

    const QTextCursor selection = transcript->textCursor();
    QByteArray rtf = selectionOnly
                         ? DocumentToRtf(transcript->document(), selection.selectionStart(),
                                         selection.selectionEnd())
                         : DocumentToRtf(transcript->document());
    rtf += "\r\n";

    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(rtf) == rtf.size() && file.commit())
        return true;
    ShowMessage(session.messageBox(), owner, QStringLiteral("保存文字时错误:") + file.errorString(),
                MessageKind::Error, false);
    return false;
}

}  // namespace

QString TrimmedTranscriptLine() {
    return QStringLiteral("(较早的聊天记录已删除)");
}

void PrepareTranscript(QTextEdit* transcript) {
    transcript->setReadOnly(true);
    // Nothing is ever undone here, and the history would keep every line the peer sent, and
    // the document every character it dropped.
    transcript->document()->setUndoRedoEnabled(false);
    transcript->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    transcript->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont font = transcript->document()->defaultFont();
    font.setPointSize(kTranscriptPointSize);
    transcript->document()->setDefaultFont(font);
    SetLeftMargin(transcript, kBoxMargin);
}

namespace {

RoomEvent RoomEventOf(int kind) {
    switch (kind) {
        case SystemLineAutoEnter:
            return RoomEvent::AutoEnter;
        case SystemLineLeft:
            return RoomEvent::Left;
        case SystemLineLost:
            return RoomEvent::Lost;
        default:
            return RoomEvent::Enter;
    }
}

}  // namespace

void AppendSystemLine(QTextEdit* transcript, int kind, const QString& name,
                      const QString& autoReplyText, const QDateTime& now) {
    QString line;
    if (kind == SystemLineLeft || kind == SystemLineLost)
        line += QLatin1String("\r\n\r\n");
    line += RoomLine(name, RoomEventOf(kind), now) + QLatin1String("\r\n");
    if (kind == SystemLineAutoEnter)
        line += autoReplyText + QLatin1String("\r\n");
    AppendPlain(transcript, line, GreyFormat());
    KeepWithinBounds(transcript);
    ShowEnd(transcript);
}

void AppendChatLine(QTextEdit* transcript, const QString& senderName, const QString& styledText,
                    const QDateTime& now) {
    const QString header = QLatin1String("\r\n") + senderName + QLatin1Char(' ') +
                           now.time().toString(QStringLiteral("H:mm:ss")) + QLatin1String("\r\n");
    AppendPlain(transcript, header, GreyFormat());
    AppendPlain(transcript, styledText.mid(11), FormatOfStyleCode(styledText.left(11)));
    KeepWithinBounds(transcript);
    ShowEnd(transcript);
}

void PrepareInputBox(QTextEdit* inputBox, quint32 colourBgr) {
    inputBox->setAcceptRichText(false);
    QTextCharFormat style = GreyFormat();
    style.setForeground(ColourOfBgr(colourBgr));
    inputBox->setProperty(kInputFormatProperty, QVariant::fromValue(QTextFormat(style)));
    MergeInputFormat(inputBox, style);

    // Emptying the box (clear(), or deleting every character) drops the typing format; the
    // kept style comes back so that what is typed next and FontStyleCode agree with the menus.
    QObject::connect(inputBox, &QTextEdit::textChanged, inputBox, [inputBox] {
        if (!inputBox->document()->isEmpty())
            return;
        const QTextCharFormat kept =
            inputBox->property(kInputFormatProperty).value<QTextFormat>().toCharFormat();
        if (inputBox->currentCharFormat() != kept) {
            const QSignalBlocker quiet(inputBox);
            inputBox->setCurrentCharFormat(kept);
        }
    });
    SetLeftMargin(inputBox, kBoxMargin);
}

void SetInputColour(QTextEdit* inputBox, quint32 colourBgr) {
    QTextCharFormat change;
    change.setForeground(ColourOfBgr(colourBgr));
    MergeInputFormat(inputBox, change);
}

QString ChooseColour(DialogService& dialogs, QWidget* owner) {
    quint32 colourBgr = 0;
    if (!dialogs.ChooseColor(owner, colourBgr))
        return QString();
    return QString::number(colourBgr);
}

bool ChooseInputColour(DialogService& dialogs, QWidget* owner, QTextEdit* inputBox) {
    const QString colour = ChooseColour(dialogs, owner);
    if (!colour.isEmpty())
        SetInputColour(inputBox, colour.toUInt());
    inputBox->setFocus();
    return !colour.isEmpty();
}

const QStringList& TranscriptMenuCaptions() {
    static const QStringList captions = {
        QStringLiteral("复制(&C)"),     QStringLiteral("全选(&A)"), QStringLiteral("-"),
        QStringLiteral("清空(&R)"),     QStringLiteral("-"),        QStringLiteral("保存选择(&S)"),
        QStringLiteral("保存全部(&W)"), QStringLiteral("粗体"),     QStringLiteral("斜体"),
        QStringLiteral("下划线"),       QStringLiteral("-"),        QStringLiteral("9"),
        QStringLiteral("12"),           QStringLiteral("16"),       QStringLiteral("20"),
    };
    return captions;
}

QMenu* BuildTranscriptMenu(const QString& prefix, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(prefix + QStringLiteral("Rtx"));
    AddEntries(menu, prefix + QStringLiteral("RtxSub"), 0, 7, false);
    return menu;
}

QMenu* BuildFontMenu(const QString& prefix, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(prefix + QStringLiteral("Font"));
    AddEntries(menu, prefix + QStringLiteral("FontSub"), 7, 8, true);
    MenuEntry(menu, FontSize9)->setChecked(true);
    return menu;
}

int MenuEntryNumber(const QMenu* menu, const QAction* action) {
    return menu->actions().indexOf(const_cast<QAction*>(action)) + 1;
}

QAction* MenuEntry(const QMenu* menu, int entry) {
    const QList<QAction*> actions = menu->actions();
    return entry >= 1 && entry <= actions.size() ? actions[entry - 1] : nullptr;
}

void EnableTranscriptMenu(QMenu* transcriptMenu, const QTextEdit* transcript) {
    const bool selected = transcript->textCursor().hasSelection();
    const bool hasText = !transcript->document()->isEmpty();
    const struct {
        int entry;
        bool enabled;
    } rules[] = {{TranscriptCopy, selected},
                 {TranscriptSelectAll, hasText},
                 {TranscriptClear, hasText},
                 {TranscriptSaveSelection, selected},
                 {TranscriptSaveAll, hasText}};
    for (const auto& rule : rules) {
        if (QAction* action = MenuEntry(transcriptMenu, rule.entry))
            action->setEnabled(rule.enabled);
    }
}

void ApplyFontMenuItem(int entry, QAction* item, QTextEdit* inputBox) {
    QTextCharFormat change;
    switch (entry) {
        case FontBold:
            change.setFontWeight(item->isChecked() ? QFont::Bold : QFont::Normal);
            break;
        case FontItalic:
            change.setFontItalic(item->isChecked());
            break;
        case FontUnderline:
            change.setFontUnderline(item->isChecked());
            break;
        case FontSize9:
            change.setFontPointSize(9);
            break;
        case FontSize12:
            change.setFontPointSize(12);
            break;
        case FontSize16:
            change.setFontPointSize(16);
            break;
        case FontSize20:
            change.setFontPointSize(20);
            break;
        default:
            return;
    }
    MergeInputFormat(inputBox, change);
    SetLeftMargin(inputBox, kBoxMargin);
}

void ChooseFontMenuItem(QMenu* fontMenu, int entry, QTextEdit* inputBox) {
    QAction* item = MenuEntry(fontMenu, entry);
    if (!item)
        return;
    if (entry >= FontSize9 && entry <= FontSize20) {
        for (int size = FontSize9; size <= FontSize20; ++size) {
            if (QAction* other = MenuEntry(fontMenu, size))
                other->setChecked(size == entry);
        }
    }
    ApplyFontMenuItem(entry, item, inputBox);
}

void TranscriptMenuCommand(Session& session, QWidget* owner, QTextEdit* transcript, int entry) {
    switch (entry) {
        case TranscriptCopy:
            session.shell().SetClipboardText(transcript->textCursor().selection().toPlainText());
            break;
        case TranscriptSelectAll:
            transcript->selectAll();
            break;
        case TranscriptClear:
            transcript->clear();
            break;
        case TranscriptSaveSelection:
            SaveSelectionAsRtf(session, owner, transcript);
            break;
        case TranscriptSaveAll:
            SaveAllAsRtf(session, owner, transcript);
            break;
        default:
            break;
    }
}

bool SaveSelectionAsRtf(Session& session, QWidget* owner, const QTextEdit* transcript) {
    return SaveAsRtf(session, owner, transcript, true);
}

bool SaveAllAsRtf(Session& session, QWidget* owner, const QTextEdit* transcript) {
    return SaveAsRtf(session, owner, transcript, false);
}

void AttachTranscriptMenu(Session& session, QWidget* owner, QTextEdit* transcript,
                          QMenu* transcriptMenu) {
    transcript->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(transcript, &QWidget::customContextMenuRequested, transcriptMenu,
                     [transcript, transcriptMenu](const QPoint& pos) {
                         EnableTranscriptMenu(transcriptMenu, transcript);
                         transcriptMenu->popup(transcript->viewport()->mapToGlobal(pos));
                     });
    QPointer<QWidget> ownerRef(owner);
    QObject::connect(transcriptMenu, &QMenu::triggered, transcript,
                     [&session, ownerRef, transcript, transcriptMenu](QAction* action) {
                         TranscriptMenuCommand(session, ownerRef, transcript,
                                               MenuEntryNumber(transcriptMenu, action));
                     });
}

void AttachFontMenu(QMenu* fontMenu, QTextEdit* inputBox) {
    QObject::connect(fontMenu, &QMenu::triggered, inputBox, [fontMenu, inputBox](QAction* action) {
        ChooseFontMenuItem(fontMenu, MenuEntryNumber(fontMenu, action), inputBox);
        inputBox->setFocus();
    });
}

void SetLeftMargin(QWidget* box, int pixels) {
    // Qt's text boxes keep the margin through font changes; the document margin also outlives
    // clear(). It applies to every side, which keeps the text evenly framed.
    if (auto* edit = qobject_cast<QTextEdit*>(box)) {
        edit->document()->setDocumentMargin(pixels);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(box)) {
        plain->document()->setDocumentMargin(pixels);
    } else if (auto* line = qobject_cast<QLineEdit*>(box)) {
        const QMargins margins = line->textMargins();
        line->setTextMargins(pixels, margins.top(), margins.right(), margins.bottom());
    }
}

void FlashWindow(QWidget* window) {
    if (window)
        QApplication::alert(window->window(), 1000);
}

ImageButton::ImageButton(Picture picture, QWidget* parent)
    : QAbstractButton(parent), m_picture(picture) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void ImageButton::setSwatchColour(quint32 colourBgr) {
    m_swatch = colourBgr & 0xFFFFFF;
    update();
}

QSize ImageButton::sizeHint() const {
    return QSize(24, 24);
}

void ImageButton::SetHighlighted(bool on) {
    if (m_highlighted == on)
        return;
    m_highlighted = on;
    update();
}

void ImageButton::enterEvent(QEnterEvent* event) {
    SetHighlighted(true);
    QAbstractButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
    SetHighlighted(false);
    QAbstractButton::leaveEvent(event);
}

void ImageButton::hideEvent(QHideEvent* event) {
    SetHighlighted(false);
    QAbstractButton::hideEvent(event);
}

void ImageButton::mousePressEvent(QMouseEvent* event) {
    // The button acts as soon as the left button goes down, as the chat page's pictures do.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        click();
        return;
    }
    event->ignore();
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_highlighted) {
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlpha(50);
        painter.setPen(palette().color(QPalette::Highlight));
        painter.setBrush(fill);
        painter.drawRoundedRect(area, 3, 3);
    }

    const QColor ink = isEnabled() ? QColor(0x30, 0x30, 0x30) : QColor(0xA0, 0xA0, 0xA0);
    const qreal w = width();
    const qreal h = height();
    switch (m_picture) {
        case PictureColour: {
            // A letter over a bar in the current text colour.
            QFont font = this->font();
            font.setBold(true);
            font.setPixelSize(qMax(8, int(h * 0.55)));
            painter.setFont(font);
            painter.setPen(ink);
            painter.drawText(QRectF(0, h * 0.06, w, h * 0.62), Qt::AlignCenter,
                             QStringLiteral("A"));
            painter.setPen(QPen(ink, 1));
            painter.setBrush(ColourOfBgr(m_swatch));
            painter.drawRect(QRectF(w * 0.2, h * 0.7, w * 0.6, h * 0.16));
            break;
        }
        case PictureFont: {
            QFont font = this->font();
            font.setPixelSize(qMax(8, int(h * 0.62)));
            painter.setFont(font);
            painter.setPen(ink);
            painter.drawText(QRectF(0, 0, w, h), Qt::AlignCenter, QStringLiteral("字"));
            break;
        }
        case PicturePeer: {
            // Head and shoulders.
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x3A, 0x6E, 0xA5));
            const qreal head = h * 0.3;
            painter.drawEllipse(QRectF((w - head) / 2, h * 0.14, head, head));
            QPainterPath body;
            body.moveTo(w * 0.2, h * 0.86);
            body.cubicTo(w * 0.2, h * 0.5, w * 0.8, h * 0.5, w * 0.8, h * 0.86);
            body.closeSubpath();
            painter.drawPath(body);
            break;
        }
    }
}

// The style code of a text box's current character format.
QString FontStyleCode(const QTextEdit* textBox) {
    const QColor color = textBox->textColor();
    const quint32 bgr =
        quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
    const QFont font = textBox->currentFont();
    double size = font.pointSizeF() > 0 ? font.pointSizeF() : 9;
    return FontStyleCode(bgr, font.bold(), font.italic(), font.underline(), size);
}

}  // namespace tvx
