#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

namespace tvx {

class ArgumentParser;

// Command-line options of the desktop program, which every command takes too: --address A sets
// the local address without asking, --data-dir DIR holds the data files instead of the per-user
// data folder.
struct StartupOptions {
    QString address;  // normalised dotted address, or empty
    QString dataDir;
};

QList<QCommandLineOption> StartupOptionList();

// Reads their values from a parser that has run with them; false with a one-line reason for a
// bad one. A missing value is the caller's to name (ArgumentParser::MissingValue).
bool ReadStartupOptions(const ArgumentParser& parser, StartupOptions& options, QString& error);

}  // namespace tvx
