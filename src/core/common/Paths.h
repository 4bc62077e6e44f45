#pragma once

#include <QString>

namespace tvx {

// Paths use "/" as the folder separator; a folder text always ends in "/".
bool FileExists(const QString& path);
// True only for an absolute local path (not a "//" network path) naming an existing folder.
bool FolderExists(const QString& path);
// Deletes the file when it exists; false only when the deletion failed.
bool DeleteFileIfExists(const QString& path);

QString FileNameOf(const QString& path);
QString FolderOf(const QString& path);
QString BaseNameOf(const QString& path);
QString ExtensionOf(const QString& path);

// Last-modified time as "yyyy-mm-dd hh:mm:ss"; empty when the file cannot be read.
QString FileTimeText(const QString& path);

// The folder with a "/" appended when it does not end in one.
QString WithTrailingSlash(const QString& folder);

}  // namespace tvx
