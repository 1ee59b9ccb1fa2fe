#include "FileChooser.h"

#include "FileDialog.h"

#include <QDir>

FileChooser::FileChooser(FileDialog &dialog) : dialog_(dialog) {}

QString FileChooser::choose(int flags, const QString &filter)
{
    // Whatever the last button left set is set again.
    dialog_.setCancelError(true);
    dialog_.setFlags(flags);
    dialog_.setFilter(filter);
    if (!dialog_.showOpen())
        return {};
    return dialog_.fileName();
}

void FileChooser::saveFailed(const QString &path, const QString &reason)
{
    dialog_.showError(saveFailedMessage(path, reason));
}

QString FileChooser::saveFailedMessage(const QString &path, const QString &reason)
{
    // The file as the user chose it, and the system's reason on a line of its own.
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}
