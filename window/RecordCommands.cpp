#include "RecordCommands.h"

#include "AtomicFile.h"
#include "ExchangeCsv.h"
#include "ExchangeRecord.h"
#include "FileDialog.h"

namespace {

// Rows are gathered into pieces of about this size before they are written.
constexpr qsizetype kPieceBytes = 256 * 1024;

} // namespace

RecordCommands::RecordCommands(const ExchangeRecord &record, FileDialog &dialog)
    : record_(record), chooser_(dialog)
{}

QString RecordCommands::filter()
{
    return QStringLiteral("CSV(*.csv)|*.csv");
}

void RecordCommands::save()
{
    const QString path = chooser_.choose(FileDialog::kOverwritePrompt, filter());
    if (path.isEmpty())
        return;
    QString reason;
    if (!write(path, &reason))
        chooser_.saveFailed(path, reason);
}

bool RecordCommands::write(const QString &path, QString *error) const
{
    AtomicFile file(path);
    bool written = file.open();
    QByteArray piece = ExchangeCsv::line(ExchangeCsv::kColumns).toUtf8();
    record_.forEachExchange([&](const Exchange &exchange) {
        piece += ExchangeCsv::line(ExchangeCsv::fields(exchange)).toUtf8();
        if (piece.size() >= kPieceBytes) {
            written = written && file.write(piece);
            piece.clear();
        }
        return written;
    });
    written = written && file.write(piece) && file.commit();
    if (!written)
        *error = file.errorString();
    return written;
}
