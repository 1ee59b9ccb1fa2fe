// Send click of a large text: the send box holds a 10 MB text, pasted as one
// line, and the far end of the line reads nothing (a pseudo-terminal whose
// other side is never read), so what the system does not take waits in the
// port until its bound, and later sends are refused. Prints the longest
// stall of the window's thread around each Send click (the gaps between the
// ticks of a 1 ms timer), first for a text the port takes, then for the
// 10 MB text, and where a click's time goes. Then the main thread's CPU
// while the focused send box holds the pasted line and its cursor blinks,
// and the same for a plain text box of the same size, for reference.
//
//   bench_send [characters]      (default 10,000,000)
#include "BenchStation.h"
#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Sample.h"
#include "PostClick.h"
#include "Summary.h"
#include "TestWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr qsizetype kDefaultUnits = 10'000'000;
// A text the port takes whole, twice, before the bound is reached.
constexpr qsizetype kTakenUnits = 3'000'000;
constexpr double kStallTargetMs = 100;
constexpr int kClicks = 3;
constexpr int kSettleMs = 300; // after a click, for what it leaves to the event loop
constexpr int kBlinkSeconds = 5;

double clockSeconds(clockid_t id)
{
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The longest time the window's thread went without coming round to a 1 ms
// timer while a click on `button` was handled and the event loop settled,
// and the CPU time the thread spent meanwhile (on a busy machine the stall
// is longer than the work, by the time other programs had the processor).
struct Click {
    double stallMs = 0;
    double cpuMs = 0;
};

Click clickOn(QPushButton *button)
{
    QElapsedTimer clock;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    qint64 last = 0;
    qint64 longest = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    ticker.start();
    const double cpuStart = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    postClick(button);
    QTest::qWait(kSettleMs);
    ticker.stop();
    // The time until the first tick counts as well: the click may come first.
    return {double(longest) / 1e6, (clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart) * 1e3};
}

// Where a click's time goes: each step of the send on its own. A text that
// may not fit is measured before it is encoded, and a refused one is not
// encoded at all.
struct Steps {
    double boxMs = 0;
    double unescapeMs = 0;
    double measureMs = 0;
    double encodeMs = 0;
    qsizetype bytes = 0;
};

Steps timeSteps(const QPlainTextEdit *box)
{
    Steps steps;
    QElapsedTimer clock;
    clock.start();
    const QString typed = Controls::boxText(box);
    steps.boxMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    const QString text = BracketCodes::UnescapeCodes(typed);
    steps.unescapeMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    steps.bytes = Cp932::encodedSize(text);
    steps.measureMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    const QByteArray bytes = Cp932::encode(text);
    steps.encodeMs = double(clock.nsecsElapsed()) / 1e6;
    return steps;
}

// Pastes `text` into the send box the way a user does, through the
// clipboard; returns how long the paste took.
double paste(QPlainTextEdit *box, const QString &text)
{
    box->clear();
    QGuiApplication::clipboard()->setText(text);
    QElapsedTimer clock;
    clock.start();
    box->paste();
    return double(clock.nsecsElapsed()) / 1e6;
}

// The main thread's CPU, in percent of a core, while `box` in `window` has
// the focus and its cursor blinks; -1 when it cannot take the focus.
double blinkingCpuPercent(QWidget *window, QPlainTextEdit *box)
{
    window->activateWindow();
    box->setFocus();
    if (!QTest::qWaitForWindowActive(window) || !box->hasFocus()) {
        std::fprintf(stderr, "bench_send: the box cannot take the focus\n");
        return -1;
    }
    QTest::qWait(500);
    const double cpuStart = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double wallStart = clockSeconds(CLOCK_MONOTONIC);
    QTest::qWait(kBlinkSeconds * 1000);
    return (clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart) /
           (clockSeconds(CLOCK_MONOTONIC) - wallStart) * 100.0;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    const qsizetype units = argc > 1 ? std::max<qsizetype>(1, atoll(argv[1])) : kDefaultUnits;

    // The far end's master is never read.
    BenchStation bench("bench_send", BenchStation::FarEnd::Played);
    TestWindow &station = bench.window();
    station.c().lineSettings[4]->setCurrentIndex(0); // no handshaking
    if (!bench.open(true))
        return 1;
    QPlainTextEdit *const sendBox = station.c().sendText;
    QPlainTextEdit *const receiveBox = station.c().receivedText;
    QPushButton *const sendButton = station.c().portButtons[Form1::Send];
    const QString refused = Form1::sendRefusedMessage();
    auto refusals = [&] { return Controls::boxText(receiveBox).count(refused); };

    // Texts the port takes, then one it refuses as the bound is reached.
    const QString taken = Cp932Sample::sendText(kTakenUnits).remove(u'\n').remove(u'\r');
    paste(sendBox, taken);
    if (Controls::boxText(sendBox) != taken) {
        std::fprintf(stderr, "bench_send: the send box does not hold the pasted text\n");
        return 1;
    }
    const Steps takenSteps = timeSteps(sendBox);
    std::printf("send text of %lld characters, %lld bytes on the line\n",
                static_cast<long long>(taken.size()), static_cast<long long>(takenSteps.bytes));
    double longestTaken = 0;
    int takenClicks = 0;
    for (int i = 0; i < kClicks; ++i) {
        const qsizetype before = refusals();
        const Click click = clickOn(sendButton);
        const bool wasRefused = refusals() > before;
        takenClicks += wasRefused ? 0 : 1;
        if (!wasRefused)
            longestTaken = std::max(longestTaken, click.stallMs);
        std::printf("  Send click %d: %s, main thread stalled %6.1f ms (%5.1f ms CPU)\n", i + 1,
                    wasRefused ? "refused" : "taken  ", click.stallMs, click.cpuMs);
    }
    if (takenClicks == 0) {
        std::fprintf(stderr, "bench_send: the port took none of the texts\n");
        return 1;
    }

    // The large text, pasted as one line.
    const QString large = Cp932Sample::sendText(units).remove(u'\n').remove(u'\r');
    const double pasteMs = paste(sendBox, large);
    if (Controls::boxText(sendBox) != large) {
        std::fprintf(stderr, "bench_send: the send box does not hold the pasted text\n");
        return 1;
    }
    const Steps steps = timeSteps(sendBox);
    std::printf("send text of %lld characters on one line, %lld bytes on the line; "
                "pasted in %.1f ms\n",
                static_cast<long long>(large.size()), static_cast<long long>(steps.bytes), pasteMs);
    double longestLarge = 0;
    double mostCpu = 0;
    int largeRefused = 0;
    for (int i = 0; i < kClicks; ++i) {
        const qsizetype before = refusals();
        const Click click = clickOn(sendButton);
        const bool wasRefused = refusals() > before;
        largeRefused += wasRefused ? 1 : 0;
        longestLarge = std::max(longestLarge, click.stallMs);
        mostCpu = std::max(mostCpu, click.cpuMs);
        std::printf("  Send click %d: %s, main thread stalled %6.1f ms (%5.1f ms CPU)\n", i + 1,
                    wasRefused ? "refused" : "taken  ", click.stallMs, click.cpuMs);
    }
    if (largeRefused != kClicks) {
        std::fprintf(stderr, "bench_send: the port took a text beyond its bound\n");
        return 1;
    }
    std::printf("  each step alone: send box text %.1f ms, unescape %.1f ms, measure %.1f ms "
                "(encode, when taken, %.1f ms)\n",
                steps.boxMs, steps.unescapeMs, steps.measureMs, steps.encodeMs);

    // The box with the pasted line, focused, its cursor blinking; then, for
    // reference, a plain box of the same size and font with the same line
    // pasted, which holds it as one block.
    const double blinkPercent = blinkingCpuPercent(station.form.get(), sendBox);
    if (blinkPercent < 0)
        return 1;
    std::printf("focused send box holding it, cursor blinking: %.2f %% of a core on the main "
                "thread over %d s\n",
                blinkPercent, kBlinkSeconds);
    station.form->hide();
    QPlainTextEdit plain;
    plain.setFont(sendBox->font());
    plain.resize(sendBox->size());
    plain.show();
    const double plainPasteMs = paste(&plain, large);
    const double plainBlinkPercent = blinkingCpuPercent(&plain, &plain);
    if (plainBlinkPercent < 0)
        return 1;
    std::printf("plain box of the same size: pasted in %.1f ms, cursor blinking: %.2f %%\n",
                plainPasteMs, plainBlinkPercent);

    const QString mb = QString::number(double(large.size()) / 1e6, 'g', 3);
    Summary::print(QStringLiteral("Send click of a %1 MB text, longest stall of %2 (refused)")
                       .arg(mb)
                       .arg(kClicks),
                   Summary::number(longestLarge, 1, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kStallTargetMs), QString(),
                   Summary::judge(longestLarge <= kStallTargetMs));
    Summary::print(QStringLiteral("  of it: main-thread CPU, most of %1").arg(kClicks),
                   Summary::number(mostCpu, 1, QStringLiteral("ms")), QString(), QString(),
                   Summary::Status::NoTarget);
    Summary::print(QStringLiteral("Send click of a %1 MB text the port takes, longest stall")
                       .arg(QString::number(double(taken.size()) / 1e6, 'g', 3)),
                   Summary::number(longestTaken, 1, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kStallTargetMs), QString(),
                   Summary::judge(longestTaken <= kStallTargetMs));
    Summary::print(
        QStringLiteral("pasting a %1 MB line into the send box").arg(mb),
        Summary::number(pasteMs, 1, QStringLiteral("ms")), QString(),
        QStringLiteral("plain box %1").arg(Summary::number(plainPasteMs, 1, QStringLiteral("ms"))),
        Summary::Status::NoTarget);
    Summary::print(QStringLiteral("send box holding it, focused, cursor blinking: main-thread CPU"),
                   Summary::number(blinkPercent, 2, QStringLiteral("%")), QString(),
                   QStringLiteral("plain box %1")
                       .arg(Summary::number(plainBlinkPercent, 2, QStringLiteral("%"))),
                   Summary::Status::NoTarget);
    return 0;
}
