#pragma once

#include "FileChooser.h"

#include <QString>

class FileDialog;
struct Controls;

// The two file buttons: load the send box from the first field of a file,
// save the receive box as a file's one record. Every failure leaves both
// boxes as they were; only a save that fails after a file was chosen is
// reported, so that the user does not take an unsaved box for a saved one.
class FileCommands {
public:
    enum Button { Load = 0, Save = 1 };

    FileCommands(Controls &controls, FileDialog &dialog);

    // The click handler of Command3(index).
    void click(int index);

    // The filter both buttons give the dialog.
    static QString filter();

private:
    void load();
    void save();

    Controls &controls_;
    FileChooser chooser_;
};
