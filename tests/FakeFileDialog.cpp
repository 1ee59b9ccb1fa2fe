#include "FakeFileDialog.h"

bool FakeFileDialog::showOpen()
{
    shown_.append({cancelError(), flags(), filter()});
    const bool picked = !cancelNext_;
    setFileName(picked ? next_ : QString());
    // Each script answers one showing; the one after that cancels.
    cancelNext_ = true;
    next_.clear();
    return picked;
}

void FakeFileDialog::showError(const QString &message)
{
    errors_.append(message);
}

void FakeFileDialog::choose(const QString &path)
{
    next_ = path;
    cancelNext_ = false;
}

void FakeFileDialog::cancel()
{
    next_.clear();
    cancelNext_ = true;
}
