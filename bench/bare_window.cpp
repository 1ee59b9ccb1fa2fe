// The reference for the start-up benchmark: a bare Qt window, a QApplication
// and one QWidget shown, nothing else. With COMMCHECK_REPORT_SHOWN set it
// reports the first exposure exactly as the program does (app/main.cpp):
// "shown <ns>" on the monotonic clock, looked for every millisecond.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.show();

    QTimer look;
    if (qEnvironmentVariableIsSet("COMMCHECK_REPORT_SHOWN")) {
        look.setTimerType(Qt::PreciseTimer);
        look.setInterval(1);
        QObject::connect(&look, &QTimer::timeout, &window, [&look, &window] {
            const QWindow *handle = window.windowHandle();
            if (handle == nullptr || !handle->isExposed())
                return;
            look.stop();
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::printf("shown %lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
        });
        look.start();
    }
    return app.exec();
}
