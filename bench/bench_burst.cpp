// Receive burst: a large burst of line data arrives at the port while the
// window idles, then the Receive button reads it, escapes it and shows it in
// the receive box. Prints how long the click took, how its time divides
// between the conversion and the receive box, and how late a click on
// another control made just after it was answered.
//
//   bench_burst [bytes]      (default 4 MiB)
#include "BenchStation.h"
#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Decoder.h"
#include "Cp932Sample.h"
#include "LargePages.h"
#include "PostClick.h"
#include "PtyPair.h"
#include "Summary.h"
#include "TestWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qsizetype kDefaultBytes = 4 * 1024 * 1024;
constexpr double kReceiveTargetMs = 200;
constexpr double kAnswerTargetMs = 200;
constexpr double kPollTargetMs = 500; // "well under a second"
constexpr int kDeliveryLimitMs = 60000;
constexpr int kAnswerLimitMs = 60000;
constexpr int kClickDelayMs = 20;

// Writes all of `bytes` to the far side while the window's event loop runs,
// as it would while a burst comes in: the port takes the bytes in as they
// arrive. Then waits until the device holds nothing unread for a while.
bool deliver(PtyPair &far, int watchFd, const QByteArray &bytes)
{
    const QDeadlineTimer deadline(kDeliveryLimitMs);
    if (!far.write(bytes, kDeliveryLimitMs))
        return false;
    // Then until the device has held nothing unread for a while: looked at
    // after a pause, before the port gets its turn to read.
    int quietRounds = 0;
    while (quietRounds < 5) {
        if (deadline.hasExpired())
            return false;
        ::usleep(10000);
        int unread = 0;
        if (::ioctl(watchFd, FIONREAD, &unread) == -1)
            return false;
        quietRounds = unread == 0 ? quietRounds + 1 : 0;
        QCoreApplication::processEvents();
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    const qsizetype size = argc > 1 ? std::max<qsizetype>(1, atoll(argv[1])) : kDefaultBytes;

    BenchStation bench("bench_burst", BenchStation::FarEnd::Played);
    PtyPair &far = bench.far();
    // Opened before the program takes the device, to watch what it has not
    // read yet; never read from.
    const int watchFd = ::open(qPrintable(far.slavePath()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (watchFd == -1) {
        std::fprintf(stderr, "bench_burst: cannot watch the device\n");
        return 1;
    }

    TestWindow &station = bench.window();
    // No handshaking: with XOn/XOff (the window's default) the system keeps
    // the burst's DC1 and DC3 bytes for itself.
    station.c().lineSettings[4]->setCurrentIndex(0);
    if (!bench.open(true))
        return 1;
    QCoreApplication::processEvents();

    const QByteArray burst = Cp932Sample::mixedBytes(size, 4);
    const QString expected = BracketCodes::EscapeCodes(Cp932::decode(burst));
    if (!deliver(far, watchFd, burst)) {
        std::fprintf(stderr, "bench_burst: the burst did not reach the port\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    station.form->controls().portButtons[Form1::Receive]->click();
    const qint64 receivedNs = clock.nsecsElapsed();

    // A click on the check box, made shortly after, as a user's would be: it
    // waits behind whatever the receive left for the event loop (painting
    // the receive box), and is answered late by as much.
    const qint64 dueNs = receivedNs + qint64(kClickDelayMs) * 1000000;
    qint64 answeredNs = -1;
    QCheckBox *const box = station.c().checkEnabled;
    QObject::connect(box, &QCheckBox::toggled, &app, [&] {
        answeredNs = clock.nsecsElapsed();
        app.quit();
    });
    QTimer::singleShot(kClickDelayMs, Qt::PreciseTimer, box, [box] { postClick(box); });
    QTimer::singleShot(kAnswerLimitMs, &app, &QApplication::quit);
    app.exec();

    const QString shown = Controls::boxText(station.c().receivedText);
    if (shown != expected) {
        std::fprintf(stderr,
                     "bench_burst: the receive box shows %lld characters, expected %lld of the "
                     "burst\n",
                     static_cast<long long>(shown.size()), static_cast<long long>(expected.size()));
        qsizetype at = 0;
        while (at < shown.size() && at < expected.size() && shown[at] == expected[at])
            ++at;
        std::fprintf(stderr, "bench_burst: they differ from character %lld on: shown \"%s\"\n",
                     static_cast<long long>(at), qPrintable(shown.mid(at, 40)));
        return 1;
    }
    if (answeredNs < 0) {
        std::fprintf(stderr, "bench_burst: the click was not answered within %d ms\n",
                     kAnswerLimitMs);
        return 1;
    }

    // Where the click's time goes: the conversion the port does (bytes to
    // received text), and the receive box taking the text, each again on its
    // own.
    clock.restart();
    Cp932Decoder decoder(LargePages::prefer);
    QString converted = decoder.decodeEscaped(burst);
    converted += BracketCodes::EscapeCodes(decoder.flush());
    const qint64 convertNs = clock.nsecsElapsed();
    Controls::setBoxText(station.c().receivedText, QString());
    QCoreApplication::processEvents();
    clock.restart();
    // Handed over as the Receive click hands it, to be cut where it lies.
    Controls::setBoxText(station.c().receivedText, std::move(converted));
    const qint64 boxNs = clock.nsecsElapsed();

    // One poll of an answering station with a burst arrived since the last
    // poll: it reads and escapes the burst and leaves the receive box alone,
    // as no text matched. It keeps only what can still begin an arrival of
    // its text: of a burst of other text, at most the text's length.
    const QString answerText = QStringLiteral("NEVER SENT");
    Controls::setBoxText(station.c().sendText, answerText);
    station.form->controls().startButton->click(); // echo mode since the Receive click
    station.form->pollTimer().setInterval(0);
    if (!deliver(far, watchFd, burst)) {
        std::fprintf(stderr, "bench_burst: the second burst did not reach the port\n");
        return 1;
    }
    ::close(watchFd);
    clock.restart();
    station.form->check().poll();
    const qint64 pollNs = clock.nsecsElapsed();
    if (station.form->port().input().size() != 0 ||
        station.check().received().size() > answerText.size()) {
        std::fprintf(stderr,
                     "bench_burst: the poll did not take the whole burst (%lld bytes left, "
                     "%lld characters kept)\n",
                     static_cast<long long>(station.form->port().input().size()),
                     static_cast<long long>(station.check().received().size()));
        return 1;
    }

    const double pollMs = double(pollNs) / 1e6;
    const double receiveMs = double(receivedNs) / 1e6;
    const double answerMs = double(answeredNs - dueNs) / 1e6;
    const double convertMs = double(convertNs) / 1e6;
    const double boxMs = double(boxNs) / 1e6;
    std::printf("receive burst: %lld bytes, shown as %lld characters\n",
                static_cast<long long>(burst.size()), static_cast<long long>(shown.size()));
    std::printf("  Receive click                      %10.1f ms\n", receiveMs);
    std::printf("    decode + escape alone            %10.1f ms\n", convertMs);
    std::printf("    receive box taking the text alone %9.1f ms\n", boxMs);
    std::printf("  click made %d ms after it answered %10.1f ms late\n", kClickDelayMs, answerMs);
    std::printf("  one answering-station poll of it   %10.1f ms\n", pollMs);
    const QString mib = QString::number(double(size) / (1024 * 1024), 'g', 3);
    Summary::print(QStringLiteral("Receive click on a %1 MiB burst").arg(mib),
                   Summary::number(receiveMs, 1, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kReceiveTargetMs), QString(),
                   Summary::judge(receiveMs <= kReceiveTargetMs));
    Summary::print(QStringLiteral("  of it: decode+escape alone"),
                   Summary::number(convertMs, 1, QStringLiteral("ms")), QString(), QString(),
                   Summary::Status::NoTarget);
    Summary::print(QStringLiteral("  of it: receive box (QPlainTextEdit) alone"),
                   Summary::number(boxMs, 1, QStringLiteral("ms")), QString(), QString(),
                   Summary::Status::NoTarget);
    Summary::print(
        QStringLiteral("click %1 ms after the burst's Receive, answered").arg(kClickDelayMs),
        Summary::number(answerMs, 1, QStringLiteral("ms late")),
        QStringLiteral("<= %1 ms").arg(kAnswerTargetMs), QString(),
        Summary::judge(answerMs <= kAnswerTargetMs));
    Summary::print(QStringLiteral("one answering-station poll of a %1 MiB burst").arg(mib),
                   Summary::number(pollMs, 1, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kPollTargetMs), QString(),
                   Summary::judge(pollMs <= kPollTargetMs));
    return 0;
}
