#pragma once

#include <QProgressBar>
#include <QSpinBox>
#include <QString>
#include <QWidget>
#include <array>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tvx {

// A number box with its spinner: digits only (every other key is dropped), from low to high.
// The value is what the box last held that lay in the range; text typed outside the range
// is not taken and falls back to that value when the box loses the focus.
class NumberBox : public QSpinBox {
    Q_OBJECT

public:
    NumberBox(QWidget* parent, const QString& name, int low, int high);

    // Takes the value when it lies in the range; otherwise the box keeps what it holds.
    void SetIfInRange(int value);

protected:
    QValidator::State validate(QString& text, int& position) const override;
};

// The progress bar of a transfer: fullWidth pixels of track inside a 1-pixel border, filled
// from the left; its value is the filled width in pixels.
QProgressBar* NewProgressBar(QWidget* parent, const QString& name, int fullWidth,
                             const QString& borderColour, const QString& fillColour);

// The page shown while a connection attempt runs: lines 1 to 3 are its steps, shown up to the
// current one, which is bold with the pointer beside it; line 4 is the counter line below
// them; the cancel button sits at the bottom.
class ConnectingPage : public QWidget {
    Q_OBJECT

public:
    // The texts of steps 2 and 3; step 1 names the peer and is set when the attempt starts.
    ConnectingPage(const QString& step2, const QString& step3, QPushButton* cancel,
                   QWidget* parent);

    QLabel* Line(int index) const { return m_lblLinkInfo[index]; }
    void SetStep(int step);

private:
    std::array<QLabel*, 5> m_lblLinkInfo{};
    QGridLayout* m_grid;
    QLabel* m_imgPro;
};

// "使用验证码" and the code box beside it (at most 15 characters, shown as "*"), which is
// visible and takes the focus while the check box is ticked.
class CodeRow : public QWidget {
    Q_OBJECT

public:
    // The chat window's code box is light yellow with a little room before the text; the send
    // window's is plain and shows the check box's tool tip too.
    enum class Look { Plain, Yellow };

    CodeRow(const QString& checkName, const QString& boxName, Look look, QWidget* parent);

    bool ticked() const;
    QString code() const;

private:
    QCheckBox* m_check;
    QLineEdit* m_box;
};

// Cuts what is typed or pasted beyond limit characters.
void LimitLength(QPlainTextEdit* box, int limit);

// What the address and note boxes do when they lose the focus: blanks and empty lines at
// both ends go.
void TrimLineBox(QLineEdit* box);
void TrimNoteBox(QPlainTextEdit* box);

// The text a label, box, button or check box of the window shows, found by object name;
// multi-line boxes give their lines with "\r\n". Empty when there is no such control.
QString ControlText(const QWidget* window, const QString& objectName);

}  // namespace tvx
