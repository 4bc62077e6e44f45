#pragma once

#include <QTimer>
#include <QWidget>

#include "web/WebServer.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QMimeData;
class QPushButton;

namespace tvx {

struct Session;

// The web page's window: while it is open the page is served for phones and computers without
// Tolvex. It shows the address with its QR code and the code to type, the folder uploads go
// into, the files offered for download and what happened on the page. Closing it, or "停止",
// ends the page.
class WebWindow : public QWidget {
    Q_OBJECT

public:
    // Modules of white around the QR code, as readers expect.
    static constexpr int kQrQuietZone = 4;
    // The QR code's side on screen, about, in logical pixels; the modules stay whole pixels.
    static constexpr int kQrSide = 200;
    // Lines kept in the activity list; the oldest go first.
    static constexpr int kMaxActivityLines = 1000;
    // Arrivals within this time of a notification are gathered into the next one.
    static constexpr int kNoticeGapMs = 5000;

    explicit WebWindow(Session& session, quint16 port = WebServer::kDefaultPort,
                       QWidget* parent = nullptr);
    ~WebWindow() override;

    // Takes the receive folder (the automatic-receiving folder when that is on, else the user
    // picks one), starts the page with a new code and shows the window. False when the page
    // did not start: the user cancelled the folder, or the server could not start (said in a
    // message box); the window is then closed.
    bool Open();

    WebServer& Server() { return m_server; }
    bool Serving() const { return m_server.phase() == WebServer::Phase::Serving; }

    // Handlers, public so that tests can drive them as the user would.
    void BrowseFolderClicked();
    void AddShareClicked();
    void RemoveShareClicked();
    // Offers the dropped files; false when the drop held no local file.
    bool FilesDropped(const QMimeData* data);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString DefaultReceiveFolder() const;
    void ShowAddress();
    void AddShares(const QStringList& paths);
    void ShowShares();
    void ShowEvent(const WebEvent& event);
    void NoticeArrival(const WebEvent& event);
    void NoticeGapEnded();
    void PhaseChanged(WebServer::Phase phase);

    Session& m_session;
    quint16 m_port;
    WebServer m_server;
    bool m_closing = false;
    QLabel* m_lblAddress;
    QLabel* m_picQr;
    QLabel* m_lblCode;
    QLineEdit* m_txtReceiveFolder;
    QListWidget* m_lstShared;
    QPushButton* m_cmdRemoveShare;
    QListWidget* m_lstActivity;
    QTimer m_timNotice;
    int m_unannounced = 0;  // arrivals since the last notification, while its gap runs
};

}  // namespace tvx
