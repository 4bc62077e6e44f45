#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace tvx {

// QCommandLineParser read the way this program has always read its arguments: an option
// ("--name", "--name=value") may stand anywhere and a valued option takes the next argument
// whatever it is; every other argument is a word, also one with a single dash (a file may be
// named "-a.txt") and a lone "--", which the parser alone would take for an option or for the
// end of the options. Each word keeps its place among the arguments.
class ArgumentParser {
public:
    struct Word {
        int index;  // its place among the arguments
        QString text;
    };

    explicit ArgumentParser(const QList<QCommandLineOption>& options);

    // Parses the arguments after the program name.
    void Parse(const QStringList& arguments);

    QList<Word> Words() const;
    // Every value given to the option, in order.
    QStringList Values(const QString& name) const;
    bool IsSet(const QString& name) const;

    // An option that is none of the parser's.
    bool HasUnknownOption() const;
    // An option without a value written with one ("--overwrite=1").
    bool HasFlagWithValue() const;
    // The option standing last without the value it takes ("--retry"), or empty.
    QString MissingValue() const;

private:
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    bool m_failed = false;  // for a reason besides a missing value
    QString m_missing;
};

// The parser tells what is wrong but not where. Read one by one, the arguments' first mistake is
// that of the shortest beginning of them that holds one; `check` reads a beginning and answers
// false with its mistake. True when the whole holds none.
template <typename Check>
bool FindFirstMistake(const QStringList& arguments, const Check& check, QString& error) {
    if (check(arguments, error))
        return true;
    qsizetype good = 0;
    qsizetype bad = arguments.size();
    while (bad - good > 1) {
        const qsizetype middle = (good + bad) / 2;
        QString ignored;
        if (check(arguments.first(middle), ignored))
            good = middle;
        else
            bad = middle;
    }
    check(arguments.first(bad), error);
    return false;
}

}  // namespace tvx
