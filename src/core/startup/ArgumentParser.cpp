#include "startup/ArgumentParser.h"

namespace tvx {

namespace {

// A word goes to the parser as mark, its index, mark, its text: never taken for an option, and
// its place known again afterwards.
constexpr QChar kMark(0x1);

bool IsOption(const QString& argument) {
    return argument.size() > 2 && argument.startsWith(QLatin1String("--"));
}

ArgumentParser::Word Unmarked(const QString& text) {
    if (!text.startsWith(kMark))
        return {-1, text};  // a value that looks like an option
    const qsizetype end = text.indexOf(kMark, 1);
    return {text.mid(1, end - 1).toInt(), text.mid(end + 1)};
}

}  // namespace

ArgumentParser::ArgumentParser(const QList<QCommandLineOption>& options) : m_options(options) {
    m_parser.addOptions(options);
}

void ArgumentParser::Parse(const QStringList& arguments) {
    QStringList marked{QStringLiteral("tolvex")};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        marked << (IsOption(argument) ? argument : kMark + QString::number(i) + kMark + argument);
    }
    m_failed = !m_parser.parse(marked);

    m_missing.clear();
    const QStringList found = m_parser.optionNames();
    for (const QCommandLineOption& option : m_options) {
        const QString name = option.names().constFirst();
        if (!option.valueName().isEmpty() && found.count(name) > m_parser.values(name).size())
            m_missing = QStringLiteral("--") + name;
    }
    if (m_failed && !m_missing.isEmpty()) {
        // The parser names no reason: is there one besides the option that waits for its value?
        QCommandLineParser rest;
        rest.addOptions(m_options);
        marked.removeLast();
        m_failed = !rest.parse(marked);
    }
}

QList<ArgumentParser::Word> ArgumentParser::Words() const {
    QList<Word> words;
    for (const QString& text : m_parser.positionalArguments())
        words << Unmarked(text);
    return words;
}

QStringList ArgumentParser::Values(const QString& name) const {
    QStringList values;
    for (const QString& text : m_parser.values(name))
        values << Unmarked(text).text;
    return values;
}

bool ArgumentParser::IsSet(const QString& name) const {
    return m_parser.isSet(name);
}

bool ArgumentParser::HasUnknownOption() const {
    return !m_parser.unknownOptionNames().isEmpty();
}

bool ArgumentParser::HasFlagWithValue() const {
    return m_failed && !HasUnknownOption();
}

QString ArgumentParser::MissingValue() const {
    return m_missing;
}

}  // namespace tvx
