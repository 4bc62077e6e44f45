#pragma once

#include <QString>
#include <QStringList>

namespace tvx {

// Command-line options: --address A sets the local address without asking,
// --data-dir DIR holds the data files instead of the per-user data folder.
struct StartupOptions {
    QString address;  // normalised dotted address, or empty
    QString dataDir;
};

// Parses the arguments after the program name; false with a one-line reason on error.
bool ParseOptions(const QStringList& arguments, StartupOptions& options, QString& error);

}  // namespace tvx
