// A second program holding a serial device, for the tests of what other
// programs' holds do to an open. It holds the device, prints "ready" on a
// line of its own, then sends back every byte it receives on it, until its
// standard input closes (the test ended) or it is killed.
//
//   port_holder copy <port number>   as another copy of this program: the
//                                    port layer opens the port folder's port
//   port_holder flock <device>       as serial tools do: flock(LOCK_EX) only
#include "QtSerialPort.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

void ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

int holdWithFlock(const char *device)
{
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd == -1 || ::flock(fd, LOCK_EX | LOCK_NB) == -1) {
        std::perror(device);
        return 2;
    }
    ready();
    pollfd watched[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    char bytes[4096];
    for (;;) {
        if (::poll(watched, 2, -1) == -1)
            continue;
        if (watched[1].revents != 0) {
            if (::read(STDIN_FILENO, bytes, sizeof bytes) <= 0)
                return 0;
        }
        if (watched[0].revents & (POLLHUP | POLLERR))
            return 0;
        if (watched[0].revents & POLLIN) {
            const ssize_t n = ::read(fd, bytes, sizeof bytes);
            if (n > 0 && ::write(fd, bytes, size_t(n)) != n)
                return 3;
        }
    }
}

int holdAsACopy(int argc, char *argv[], int number)
{
    QCoreApplication app(argc, argv);
    QtSerialPort port;
    port.setCommPort(number);
    port.setSettings(LineSettings()); // 9600,N,8,1 without flow control
    if (!port.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 2;
    }
    ready();
    QTimer echo;
    QObject::connect(&echo, &QTimer::timeout, [&port] {
        const QString received = port.input();
        if (!received.isEmpty())
            port.output(received);
    });
    echo.start(5);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&app] {
        char bytes[256];
        if (::read(STDIN_FILENO, bytes, sizeof bytes) <= 0)
            app.quit();
    });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && QByteArray(argv[1]) == "flock")
        return holdWithFlock(argv[2]);
    if (argc == 3 && QByteArray(argv[1]) == "copy")
        return holdAsACopy(argc, argv, QByteArray(argv[2]).toInt());
    std::fprintf(stderr, "usage: port_holder copy <port number> | flock <device>\n");
    return 1;
}
