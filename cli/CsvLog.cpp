#include "CsvLog.h"

#include "ExchangeCsv.h"
#include "RegularFile.h"

bool CsvLog::open(const QString &path)
{
    path_ = path;
    QString reason;
    if (!RegularFile::openToAppend(path, file_, &reason)) {
        error_ = QStringLiteral("cannot write the log %1: %2").arg(path, reason);
        return false;
    }
    if (file_.size() == 0 && !addRow(ExchangeCsv::kColumns)) {
        file_.close();
        return false;
    }
    return true;
}

bool CsvLog::addRow(const QStringList &fields)
{
    const QByteArray bytes = ExchangeCsv::line(fields).toUtf8();
    if (file_.write(bytes) != bytes.size()) {
        error_ = QStringLiteral("writing the log %1 failed: %2").arg(path_, file_.errorString());
        return false;
    }
    return true;
}
