#include "FileCommands.h"

#include "Controls.h"
#include "FileDialog.h"
#include "TextRecordFile.h"

FileCommands::FileCommands(Controls &controls, FileDialog &dialog)
    : controls_(controls), chooser_(dialog)
{}

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

void FileCommands::load()
{
    const QString path = chooser_.choose(FileDialog::kHideReadOnly, filter());
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
    const QString path = chooser_.choose(FileDialog::kOverwritePrompt, filter());
    if (path.isEmpty())
        return;
    // The box still holds the text, and any earlier file is kept whole.
    QString reason;
    if (!TextRecordFile::writeRecord(path, Controls::boxText(controls_.receivedText), &reason))
        chooser_.saveFailed(path, reason);
}
