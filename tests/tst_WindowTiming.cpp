// The response times the window shows, on a real pseudo-terminal, the real
// serial port layer, timers and clock, read as the user reads them.
#include "WindowOnPty.h"

#include <QLabel>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

class TestWindowTiming : public QObject {
    Q_OBJECT
private slots:
    void slowFarEndShowsItsRealDelay();
};

namespace {

// The far end of the line, on a thread of its own so that it keeps its time
// whatever the window's thread is doing: each time `text` has arrived whole
// on `fd`, it sends the same bytes back `delay` after the read that brought
// its last byte. Until `stop` is set or the line fails.
void answerLate(int fd, const QByteArray &text, std::chrono::milliseconds delay,
                const std::atomic<bool> &stop)
{
    QByteArray arrived;
    while (!stop) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        if (!(entry.revents & POLLIN))
            return;
        char bytes[256];
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        const auto arrival = std::chrono::steady_clock::now();
        if (n <= 0)
            continue;
        arrived.append(bytes, n);
        for (qsizetype at = arrived.indexOf(text); at >= 0; at = arrived.indexOf(text)) {
            arrived.remove(0, at + text.size());
            std::this_thread::sleep_until(arrival + delay);
            for (qsizetype sent = 0; sent < text.size();) {
                const ssize_t m = ::write(fd, text.constData() + sent, size_t(text.size() - sent));
                if (m < 0)
                    return;
                sent += m;
            }
        }
    }
}

// The caption beside a statistics value, as the user reads its row.
QString captionOf(WindowOnPty &f, const QLabel *value)
{
    for (const QLabel *caption : f.c().statisticsCaptions) {
        if (caption->buddy() == value)
            return caption->text();
    }
    return value->objectName();
}

} // namespace

void TestWindowTiming::slowFarEndShowsItsRealDelay()
{
    constexpr int kLateMs = 300;
    constexpr int kIntervalMs = 1000;
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    std::atomic<bool> stop{false};
    std::thread farEnd(answerLate, f.line.pty.masterFd(), QByteArray("ABC\r"),
                       std::chrono::milliseconds(kLateMs), std::cref(stop));
    const auto joinFarEnd = qScopeGuard([&] {
        stop = true;
        farEnd.join();
    });

    // 送信 (answered late too), the check ticked, the interval, 開始.
    f.check(QStringLiteral("ABC[13]"), kIntervalMs);
    const QLabel *count = f.c().statisticsValues[Statistics::Count];
    QTRY_VERIFY_WITH_TIMEOUT(count->text().toDouble() >= 3, 60000);

    // Each reply came kLateMs after its probe: every time shown is at least
    // that, and below the interval.
    for (Statistics::Slot slot : {Statistics::LastTime, Statistics::MaxTime, Statistics::MinTime}) {
        const QLabel *value = f.c().statisticsValues[slot];
        const QString shown = value->text();
        bool isNumber = false;
        const double ms = shown.toDouble(&isNumber);
        QVERIFY2(
            isNumber && ms >= kLateMs && ms < kIntervalMs,
            qPrintable(QStringLiteral("%1 reads %2 after %3 exchanges, each answered %4 ms late")
                           .arg(captionOf(f, value), shown, count->text())
                           .arg(kLateMs)));
    }
}

QTEST_MAIN(TestWindowTiming)
#include "tst_WindowTiming.moc"
