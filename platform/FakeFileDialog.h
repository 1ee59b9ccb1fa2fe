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

    void setCancelError(bool cancelError) override { cancelError_ = cancelError; }
    bool cancelError() const override { return cancelError_; }
    void setFlags(int flags) override { flags_ = flags; }
    int flags() const override { return flags_; }
    void setFilter(const QString &filter) override { filter_ = filter; }
    QString filter() const override { return filter_; }

    bool showOpen() override;
    QString fileName() const override { return fileName_; }

    // The next showOpen() picks `path`.
    void choose(const QString &path);
    // The next showOpen() is cancelled (also the answer when nothing is scripted).
    void cancel();

    const QList<Shown> &shown() const { return shown_; }

private:
    bool cancelError_ = false;
    int flags_ = 0;
    QString filter_;
    QString fileName_;
    QString next_;
    bool cancelNext_ = true;
    QList<Shown> shown_;
};
