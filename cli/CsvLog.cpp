#include "CsvLog.h"

#include "ExchangeCsv.h"

#include <QFileInfo>

bool CsvLog::open(const QString &path)
{
    file_.setFileName(path);
    // Unbuffered: every row is one write() straight to the system.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error_ = QStringLiteral("cannot write the log %1: %2").arg(path, file_.errorString());
        return false;
    }
    if (QFileInfo(path).size() == 0 && !addRow(ExchangeCsv::kColumns)) {
        file_.close();
        return false;
    }
    return true;
}

bool CsvLog::addRow(const QStringList &fields)
{
    const QByteArray bytes = ExchangeCsv::line(fields).toUtf8();
    if (file_.write(bytes) != bytes.size()) {
        error_ = QStringLiteral("writing the log %1 failed: %2")
                     .arg(file_.fileName(), file_.errorString());
        return false;
    }
    return true;
}
