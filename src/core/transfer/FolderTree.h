#pragma once

#include <QByteArray>
#include <QString>

namespace tvx {

// A folder and what lies below it, reached one component at a time without following a
// symbolic link: whatever stands below the folder, nothing is read or written outside it.
// Holds the folder open, and the last subfolder reached, so files of one folder in a row
// cost one open each.
class FolderTree {
public:
    FolderTree() = default;
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // Opens the root (the user's choice; a link there is the user's own and is followed).
    // False with errno set when it cannot be opened as a folder.
    bool Open(const QString& root);
    bool isOpen() const { return m_root >= 0; }

    // The descriptor of the subfolder (components joined by "/", empty for the root), made
    // where missing when `create`. -1 with errno set (ELOOP or ENOTDIR for a link or a file
    // in the way). The descriptor stays the tree's.
    int Folder(const QString& relative, bool create);

    enum class EntryKind { None, File, Folder, Other };
    // What stands under the name in the folder, without following a link; the size of a file.
    static EntryKind Kind(int folder, const QByteArray& name, qint64* size = nullptr);

    static QByteArray Name(const QString& name);

private:
    void CloseLast();

    int m_root = -1;
    int m_last = -1;
    QString m_lastPath;
};

}  // namespace tvx
