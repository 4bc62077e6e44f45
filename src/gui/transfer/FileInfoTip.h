#pragma once

#include <QWidget>
#include <array>

class QLabel;
class QPixmap;

namespace tvx {

struct Session;

// The picture shown for a file that the desktop has no icon for: a sheet with a folded corner.
QPixmap GenericFilePicture(int size);

// The small topmost window beside the send window's file box: the file's large icon, its type
// name, size and modification time. It never takes the focus.
class FileInfoTip : public QWidget {
    Q_OBJECT

public:
    explicit FileInfoTip(Session& session);

    // Fills the three lines from the file and sizes the window to the widest of them.
    void Prepare(const QString& path);

private:
    Session& m_session;
    QLabel* m_icon;
    std::array<QLabel*, 4> m_lines{};
};

}  // namespace tvx
