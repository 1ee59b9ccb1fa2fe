#include "FileCommands.h"

#include "Controls.h"
#include "FileDialog.h"
#include "TextRecordFile.h"

#include <QDir>

FileCommands::FileCommands(Controls &controls, FileDialog &dialog)
    : controls_(controls), dialog_(dialog)
{}

QString FileCommands::saveFailedMessage(const QString &path, const QString &reason)
{
    // The file as the user chose it, and the system's reason on a line of its own.
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString FileCommands::filter()
{
    return QStringLiteral("TXT(*.txt)|*.txt");
}

void FileCommands::click(int index)
{
    switch (index) {
    case Load:
        load();
        break;
    case Save:
        save();
        break;
    default:
        break;
    }
}

QString FileCommands::choosePath(int flags)
{
    dialog_.setCancelError(true);
    dialog_.setFlags(flags);
    dialog_.setFilter(filter());
    if (!dialog_.showOpen())
        return {};
    return dialog_.fileName();
}

void FileCommands::load()
{
    const QString path = choosePath(FileDialog::kHideReadOnly);
    if (path.isEmpty())
        return;
    const std::optional<QString> field = TextRecordFile::readFirstField(path);
    if (!field)
        return;
    Controls::setBoxText(controls_.sendText, *field);
}

void FileCommands::save()
{
    // The same open dialog as for loading; the flag makes it ask before an
    // existing file is replaced.
    const QString path = choosePath(FileDialog::kOverwritePrompt);
    if (path.isEmpty())
        return;
    // The box still holds the text, and any earlier file is kept whole.
    QString reason;
    if (!TextRecordFile::writeRecord(path, Controls::boxText(controls_.receivedText), &reason))
        dialog_.showError(saveFailedMessage(path, reason));
}
