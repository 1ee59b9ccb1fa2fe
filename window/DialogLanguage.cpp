#include "DialogLanguage.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

namespace {

// Waits for the window's first paint, then loads the translations from the
// event loop and goes away.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QCoreApplication &app, QWidget &window, void (*failed)())
        : QObject(&window), app_(app), failed_(failed)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                if (!DialogLanguage::install(app_) && failed_)
                    failed_();
                deleteLater();
            });
        }
        return false;
    }

private:
    QCoreApplication &app_;
    void (*failed_)();
};

} // namespace

bool DialogLanguage::install(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    // Qt Base holds the texts of the dialogs the window opens; the catalogue
    // of every Qt module installed ("qt") would cost start-up time for none.
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void DialogLanguage::installAfterFirstPaint(QCoreApplication &app, QWidget &window,
                                            void (*failed)())
{
    new FirstPaintWatch(app, window, failed);
}
