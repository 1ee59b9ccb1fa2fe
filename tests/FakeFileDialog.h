#pragma once

#include "FileDialog.h"

#include <QList>

// A file dialog for tests: answers each showOpen() with a scripted path or a
// cancel, and keeps the set-up it was shown with.
class FakeFileDialog : public FileDialog {
public:
    // The properties in force at one showOpen().
    struct Shown {
        bool cancelError = false;
        int flags = 0;
        QString filter;
    };

    bool showOpen() override;

    // The next showOpen() picks `path`.
    void choose(const QString &path);
    // The next showOpen() is cancelled (also the answer when nothing is scripted).
    void cancel();

    const QList<Shown> &shown() const { return shown_; }

private:
    QString next_;
    bool cancelNext_ = true;
    QList<Shown> shown_;
};
