#pragma once

#include "FileDialog.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QFileDialog;

// The file dialog on Qt's own (non-native) file dialog, modal over the window.
class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget *parent = nullptr);

    // The window the dialog opens over; the dialog may be made before it.
    void setParentWidget(QWidget *parent) { parent_ = parent; }

    bool showOpen() override;
    // A critical message box over the window, titled with the window's title.
    void showError(const QString &message) override;

    // Qt's name filters for a "description|pattern|..." filter text:
    // nameFilters("TXT(*.txt)|*.txt") == {"TXT(*.txt) (*.txt)"}.
    static QStringList nameFilters(const QString &filter);

    // The question asked before an existing file is replaced.
    static QString overwriteQuestion(const QString &path);

private:
    void setUp(QFileDialog &dialog) const;
    bool confirmOverwrite(const QString &path) const;

    QPointer<QWidget> parent_;
};
