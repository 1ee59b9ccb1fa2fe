#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small file helpers for tests that work in a temporary folder.
namespace ScratchFiles {

// Writes `bytes` as the whole file; false when that failed.
bool writeBytes(const QString &path, const QByteArray &bytes);

// The whole file, or "<cannot open>".
QByteArray fileBytes(const QString &path);

// Every entry in `dir`, hidden ones included, by name.
QStringList entriesOf(const QString &dir);

} // namespace ScratchFiles
