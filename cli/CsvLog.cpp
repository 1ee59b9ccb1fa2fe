#include "CsvLog.h"

#include <QFileInfo>

const QStringList CsvLog::kColumns = {QStringLiteral("time"), QStringLiteral("sequence"),
                                      QStringLiteral("response_ms"), QStringLiteral("outcome"),
                                      QStringLiteral("received")};

bool CsvLog::open(const QString &path)
{
    file_.setFileName(path);
    // Unbuffered: every row is one write() straight to the system.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error_ = QStringLiteral("cannot write the log %1: %2").arg(path, file_.errorString());
        return false;
    }
    if (QFileInfo(path).size() == 0 && !addRow(kColumns)) {
        file_.close();
        return false;
    }
    return true;
}

bool CsvLog::addRow(const QStringList &fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        line += quoted(fields.at(i));
    }
    line += QStringLiteral("\r\n");
    const QByteArray bytes = line.toUtf8();
    if (file_.write(bytes) != bytes.size()) {
        error_ = QStringLiteral("writing the log %1 failed: %2")
                     .arg(file_.fileName(), file_.errorString());
        return false;
    }
    return true;
}

QString CsvLog::quoted(const QString &field)
{
    static const QString kSpecial = QStringLiteral(",\"\r\n");
    bool needsQuotes = false;
    for (QChar c : field)
        needsQuotes = needsQuotes || kSpecial.contains(c);
    if (!needsQuotes)
        return field;
    QString text = field;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

QString CsvLog::timeText(const QDateTime &at)
{
    // A local time alone is ambiguous for an hour each autumn; the offset
    // keeps a night's rows in order across a clock change.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
