#pragma once

class QCoreApplication;

// Qt's own texts (the file dialog's 開く and キャンセル, a question's はい and
// いいえ) in Japanese, like the window's captions, whatever the desktop's
// language.
class DialogLanguage {
public:
    // Loads Qt's Japanese translations from Qt's translations folder into
    // the application. False when they are not installed; the dialogs then
    // speak Qt's English.
    static bool install(QCoreApplication &app);
};
