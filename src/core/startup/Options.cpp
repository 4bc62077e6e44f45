#include "startup/Options.h"

#include "address/AddressCode.h"
#include "startup/ArgumentParser.h"

namespace tvx {

QList<QCommandLineOption> StartupOptionList() {
    return {QCommandLineOption(QStringLiteral("address"), QString(), QStringLiteral("A")),
            QCommandLineOption(QStringLiteral("data-dir"), QString(), QStringLiteral("DIR"))};
}

bool ReadStartupOptions(const ArgumentParser& parser, StartupOptions& options, QString& error) {
    options = StartupOptions();
    for (const QString& value : parser.Values(QStringLiteral("address"))) {
        if (!IsDottedAddress(value)) {
            error = QStringLiteral("invalid --address value: ") + value +
                    QStringLiteral(" (expected a dotted IPv4 address such as 127.0.0.2)");
            return false;
        }
        options.address = NormalizeDottedAddress(value);
    }
    for (const QString& value : parser.Values(QStringLiteral("data-dir"))) {
        if (value.isEmpty()) {
            error = QStringLiteral("--data-dir needs a folder");
            return false;
        }
        options.dataDir = value;
    }
    return true;
}

}  // namespace tvx
