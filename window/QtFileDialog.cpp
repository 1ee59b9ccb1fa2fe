#include "QtFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QtFileDialog::QtFileDialog(QWidget *parent) : parent_(parent) {}

QStringList QtFileDialog::nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt separates patterns with spaces where the filter text uses ';'.
        const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        filters.append(QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(u' ').trimmed()));
    }
    // A description without its pattern offers every file.
    if (parts.size() % 2 == 1 && !parts.back().isEmpty())
        filters.append(QStringLiteral("%1 (*)").arg(parts.back()));
    return filters;
}

QString QtFileDialog::overwriteQuestion(const QString &path)
{
    return QStringLiteral("%1 は既に存在します。\n上書きしますか?")
        .arg(QDir::toNativeSeparators(path));
}

void QtFileDialog::setUp(QFileDialog &dialog) const
{
    // One dialog serves loading and saving, so it opens files but also takes a
    // typed name of a file not there yet. Qt's own dialog is used because a
    // native open dialog may refuse a name that does not exist.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The description already names its pattern; showing Qt's copy of it
    // after it would say the same thing twice.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList filters = nameFilters(filter());
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    // Qt's dialog has no "open read-only" box, so kHideReadOnly is already
    // what it shows. A typed name keeps exactly what was typed: no suffix.
    dialog.setDefaultSuffix(QString());
}

bool QtFileDialog::confirmOverwrite(const QString &path) const
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        parent_, parent_ ? parent_->windowTitle() : QString(), overwriteQuestion(path),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void QtFileDialog::showError(const QString &message)
{
    QMessageBox::critical(parent_, parent_ ? parent_->windowTitle() : QString(), message);
}

bool QtFileDialog::showOpen()
{
    setFileName(QString());
    QFileDialog dialog(parent_);
    setUp(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    const QString path = chosen.front();
    // Qt's dialog asks before replacing a file only when saving, and this one
    // opens: ask here. Saying no is a cancel.
    if ((flags() & kOverwritePrompt) && QFileInfo::exists(path) && !confirmOverwrite(path))
        return false;
    setFileName(path);
    return true;
}
