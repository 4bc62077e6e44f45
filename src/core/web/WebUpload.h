#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QString>
#include <functional>

#include "web/MultipartReader.h"
#include "web/WebServer.h"

namespace tvx {

using WebReporter = std::function<void(const WebEvent&)>;

// The hidden name an upload's file is written under until it is complete.
inline constexpr char kWebTempPrefix[] = ".tolvex-web-";

// Writes one upload's file parts into the folder: each to a temporary name, renamed when its
// part ends.
class WebUpload : public MultipartReader::Sink {
public:
    WebUpload(QString folder, bool replace, QString address, WebReporter report)
        : m_report(std::move(report)),
          m_folder(std::move(folder)),
          m_replace(replace),
          m_address(std::move(address)) {}
    ~WebUpload() override { Abort(); }

    bool PartBegins(const MultipartReader::Part& part) override;
    bool PartData(const char* data, std::size_t size) override;
    bool PartEnds() override;
    // Removes the file being written, if any; true when there was one.
    bool Abort();

    QJsonArray saved;
    QString error;  // the system's reason when a file could not be written; empty when none
    QString name;   // of the part being written
    qint64 written = 0;

private:
    WebReporter m_report;
    QString m_folder;
    bool m_replace;
    QString m_address;
    QFile m_file;  // the temporary file being written
};

// Random bytes as lower-case hex, from the system's generator.
QByteArray RandomHex(int bytes);

}  // namespace tvx
