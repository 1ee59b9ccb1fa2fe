#include "DialogLanguage.h"
#include "FontWarmUp.h"
#include "Form1.h"
#include "LinePort.h"
#include "QtFileDialog.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>

namespace {

// For the start-up benchmark (bench/startup.sh): with the environment
// variable COMMCHECK_REPORT_SHOWN set, prints "shown <ns>" once the window is
// first exposed, <ns> being the monotonic clock (steady_clock, which is
// clock_gettime(CLOCK_MONOTONIC) on Linux) in nanoseconds. Qt signals no
// first exposure, so a timer looks every millisecond until it has happened;
// by then the window has painted itself, which Qt does while handling the
// exposure.
void reportWhenShown(QWidget &window)
{
    if (!qEnvironmentVariableIsSet("COMMCHECK_REPORT_SHOWN"))
        return;
    auto *look = new QTimer(&window);
    look->setTimerType(Qt::PreciseTimer);
    look->setInterval(1);
    QObject::connect(look, &QTimer::timeout, &window, [look, &window] {
        const QWindow *handle = window.windowHandle();
        if (handle == nullptr || !handle->isExposed())
            return;
        look->stop();
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("shown %lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stdout);
    });
    look->start();
}

} // namespace

int main(int argc, char *argv[])
{
    FontWarmUp fonts;
    QApplication app(argc, argv);
    // Also name the settings file the window keeps its check settings in.
    QApplication::setOrganizationName(QStringLiteral("commcheck"));
    QApplication::setApplicationName(QStringLiteral("commcheck"));
    fonts.wait();

    PlatformServices services;
    services.port = std::make_unique<LinePort>();
    services.clock = std::make_unique<SteadyClock>();
    services.probeTimer = std::make_unique<QtTimer>();
    services.pollTimer = std::make_unique<QtTimer>();
    auto fileDialog = std::make_unique<QtFileDialog>();
    QtFileDialog &dialog = *fileDialog;
    services.fileDialog = std::move(fileDialog);

    Form1 form(std::move(services));
    // The dialog opens over the window, which exists only now.
    dialog.setParentWidget(&form);
    form.load();
    DialogLanguage::installAfterFirstPaint(app, form, [] {
        std::fprintf(stderr, "commcheck: Qt's Japanese translations are not installed "
                             "(Debian: qt6-translations-l10n); dialogs will be in English\n");
    });
    form.show();
    reportWhenShown(form);
    return app.exec();
}
