#include "commands/JsonOutput.h"

#include <QJsonDocument>

#include "commands/TerminalOutput.h"

namespace tvx {

namespace {

bool MustEscape(char32_t code) {
    const QChar::Category category = QChar::category(code);
    return category == QChar::Other_Control || category == QChar::Other_Format || code == 0x2028 ||
           code == 0x2029;
}

// A half of a surrogate pair without its other half becomes U+FFFD: the writer would escape it
// as \uD800, which many readers refuse.
QString WholeCharacters(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QJsonValue WholeCharacters(const QJsonValue& value) {
    if (value.isString())
        return WholeCharacters(value.toString());
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray())
            array.append(WholeCharacters(item));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = WholeCharacters(it.value());
        return object;
    }
    return value;
}

}  // namespace

QByteArray JsonLine(const QJsonObject& object) {
    const QString text = QString::fromUtf8(
        QJsonDocument(WholeCharacters(object).toObject()).toJson(QJsonDocument::Compact));
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const bool pair =
            ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(ch, text[i + 1]) : ch.unicode();
        const qsizetype width = pair ? 2 : 1;
        // Such characters stand only inside strings: the object's own syntax is ASCII.
        if (MustEscape(code)) {
            for (qsizetype k = 0; k < width; ++k)
                line += QStringLiteral("\\u%1").arg(text[i + k].unicode(), 4, 16, QLatin1Char('0'));
        } else {
            line.append(text.constData() + i, width);
        }
        i += width - 1;
    }
    return line.toUtf8() + '\n';
}

void JsonEvents::Emit(const QString& event, QJsonObject fields) const {
    if (!m_on)
        return;
    fields.insert(QStringLiteral("event"), event);
    fields.insert(QStringLiteral("time"), m_now().toUTC().toString(Qt::ISODateWithMs));
    m_output.Json(JsonLine(fields));
}

QJsonObject FileObject(const QString& name, qint64 size) {
    return QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("size"), size}};
}

QJsonArray FileList(const QList<BatchEntry>& entries) {
    QJsonArray files;
    for (const BatchEntry& entry : entries) {
        if (!entry.folder)
            files.append(FileObject(entry.path, entry.size));
    }
    return files;
}

void JsonProgress::Begin(qint64 position) {
    m_since.start();
    m_lastBytes = position;
    m_fullTold = false;
}

void JsonProgress::Update(const TransferProgress& progress) {
    Emit(progress, nullptr);
}

void JsonProgress::Update(const TransferProgress& progress, const BatchProgress& batch) {
    Emit(progress, &batch);
}

void JsonProgress::Emit(const TransferProgress& progress, const BatchProgress* batch) {
    if (!m_events.on() || !m_since.isValid())
        return;
    const bool full = progress.Total() > 0 && progress.Position() >= progress.Total();
    if (full ? m_fullTold : m_since.elapsed() < kIntervalMs)
        return;
    m_fullTold = full;
    // The speed over the time since the last event.
    const qint64 elapsed = qMax<qint64>(1, m_since.restart());
    const qint64 moved = qMax<qint64>(0, progress.Position() - m_lastBytes);
    m_lastBytes = progress.Position();
    QJsonObject fields{{QStringLiteral("bytes"), progress.Position()},
                       {QStringLiteral("total"), progress.Total()},
                       {QStringLiteral("speed"), moved * 1000 / elapsed}};
    if (batch) {
        fields.insert(QStringLiteral("filesDone"), batch->filesDone);
        fields.insert(QStringLiteral("files"), batch->filesTotal);
    }
    m_events.Emit(QStringLiteral("progress"), fields);
}

}  // namespace tvx
