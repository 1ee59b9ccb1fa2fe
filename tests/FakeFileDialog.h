#pragma once

#include "FileDialog.h"

#include <QList>
#include <QStringList>

// A file dialog for tests: answers each showOpen() with a scripted path or a
// cancel, and keeps the set-up it was shown with and the messages shown.
class FakeFileDialog : public FileDialog {
public:
    // The properties in force at one showOpen().
    struct Shown {
        bool cancelError = false;
        int flags = 0;
        QString filter;
    };

    bool showOpen() override;
    void showError(const QString &message) override;

    // The next showOpen() picks `path`.
    void choose(const QString &path);
    // The next showOpen() is cancelled (also the answer when nothing is scripted).
    void cancel();

    const QList<Shown> &shown() const { return shown_; }
    const QStringList &errors() const { return errors_; }

private:
    QString next_;
    bool cancelNext_ = true;
    QList<Shown> shown_;
    QStringList errors_;
};
