#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

namespace tvx {

struct Session;

// The small window that slides up from the bottom right corner of the screen after a file
// has been received automatically. It rests on the task bar area, or above the window that
// stands in for the notification-area icon where that one takes the corner.
class AutoReceiveTip : public QWidget {
    Q_OBJECT

public:
    explicit AutoReceiveTip(Session& session, QWidget* parent = nullptr);

    // Counts the receipt, shows its text and starts sliding up from the bottom of the screen.
    void Show(const QString& targetPath);
    QString Text() const;

    void SlideUp();
    void CloseTip();
    void OpenSaveFolder();

signals:
    void Closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where the slide ends: the top of the tip's resting place.
    int RestingY() const;

    Session& m_session;
    QLabel* m_lblTip;
    QLabel* m_lblOpenFolder;
    QLabel* m_picClose;
    QTimer m_timSlide;
};

}  // namespace tvx
