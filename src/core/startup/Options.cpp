#include "startup/Options.h"

#include "address/AddressCode.h"

namespace tvx {

bool ParseOptions(const QStringList& arguments, StartupOptions& options, QString& error) {
    options = StartupOptions();
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString name = argument;
        QString value;
        bool hasValue = false;
        int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        if (name != QLatin1String("--address") && name != QLatin1String("--data-dir")) {
            error = QStringLiteral("unknown option: ") + argument;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = name + QStringLiteral(" needs a value");
                return false;
            }
            value = arguments[++i];
        }
        if (name == QLatin1String("--address")) {
            if (!IsDottedAddress(value)) {
                error = QStringLiteral("invalid --address value: ") + value +
                        QStringLiteral(" (expected a dotted IPv4 address such as 127.0.0.2)");
                return false;
            }
            options.address = NormalizeDottedAddress(value);
        } else {
            if (value.isEmpty()) {
                error = QStringLiteral("--data-dir needs a folder");
                return false;
            }
            options.dataDir = value;
        }
    }
    return true;
}

}  // namespace tvx
