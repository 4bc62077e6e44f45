#pragma once

#include <QPixmap>
#include <QProgressBar>
#include <QSpinBox>
#include <QString>

class QWidget;

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

// The right-pointing marker beside the current step of a connection's progress.
QPixmap PointerPicture();

// The text a label, box, button or check box of the window shows, found by object name;
// multi-line boxes give their lines with "\r\n". Empty when there is no such control.
QString ControlText(const QWidget* window, const QString& objectName);

}  // namespace tvx
