#pragma once

class QCoreApplication;
class QWidget;

// Qt's own texts (the file dialog's 開く and キャンセル, a question's はい and
// いいえ) in Japanese, like the window's captions, whatever the desktop's
// language.
class DialogLanguage {
public:
    // Loads Qt's Japanese translations from Qt's translations folder into
    // the application. False when they are not installed; the dialogs then
    // speak Qt's English.
    static bool install(QCoreApplication &app);
    // The same once `window` has first been painted: Qt's texts show only
    // in dialogs and menus, which nobody opens before the window is up, so
    // start-up does not wait for them. Calls `failed` when they are missing.
    static void installAfterFirstPaint(QCoreApplication &app, QWidget &window, void (*failed)());
};
