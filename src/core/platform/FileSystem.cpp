#include "platform/FileSystem.h"

#include <unistd.h>

#include <QFile>
#include <algorithm>

namespace tvx {

namespace {

constexpr int kUsualNameLimit = 255;

}  // namespace

int FileNameLimit(const QString& folder) {
    if (folder.isEmpty())
        return kUsualNameLimit;
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return limit > 0 ? int(std::min<long>(limit, 4096)) : kUsualNameLimit;
}

qsizetype FileNameBytes(const QString& name) {
    return QFile::encodeName(name).size();
}

}  // namespace tvx
