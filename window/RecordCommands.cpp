#include "RecordCommands.h"

#include "AtomicFile.h"
#include "ExchangeCsv.h"
#include "ExchangeRecord.h"
#include "FileCommands.h"
#include "FileDialog.h"

namespace {

// Rows are gathered into pieces of about this size before they are written.
constexpr qsizetype kPieceBytes = 256 * 1024;

} // namespace

RecordCommands::RecordCommands(const ExchangeRecord &record, FileDialog &dialog)
    : record_(record), dialog_(dialog)
{}

QString RecordCommands::filter()
{
    return QStringLiteral("CSV(*.csv)|*.csv");
}

void RecordCommands::save()
{
    dialog_.setCancelError(true);
    dialog_.setFlags(FileDialog::kOverwritePrompt);
    dialog_.setFilter(filter());
    if (!dialog_.showOpen())
        return;
    const QString path = dialog_.fileName();
    QString reason;
    if (!write(path, &reason))
        dialog_.showError(FileCommands::saveFailedMessage(path, reason));
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
