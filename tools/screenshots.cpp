// Saves the pictures of the window that the README and docs/ show:
//   window.png          a loaded window, widened so both columns show;
//   demo-checking.png   the checking station after a loop-back check across
//                       a virtual null-modem cable;
//   demo-answering.png  the answering station at the other end;
//   chart.png           the checking station's chart window, open during
//                       the check.
// Usage: commcheck_screenshots <folder>. scripts/screenshots.sh runs it on a
// virtual X display; any failure ends it with a message and exit status 1,
// and no picture of a failed check is written.
#include "ChartWindow.h"
#include "NullModemCable.h"
#include "PortFolder.h"
#include "TestWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include <chrono>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// Wide enough for the right-hand column: the window opens showing only the
// left-hand one.
constexpr int kWideWidthTwips = 8400;
// Left-hand window's place, and the right-hand one's distance from it.
constexpr int kScreenMargin = 20;
constexpr int kWindowGap = 40;
constexpr std::chrono::milliseconds kExposeLimit = 5s;
// Long enough to fill most of the chart's first span of 10 s.
constexpr std::chrono::milliseconds kCheckLength = 9s;
constexpr std::chrono::milliseconds kSettleAfterStop = 300ms;
constexpr int kCheckIntervalMs = 100;
const QString kCheckText = QStringLiteral("ABC[13]");

bool fail(const QString &message)
{
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(message));
    return false;
}

// Widens the window to both columns and shows it at `x`; false when a control
// would still lie outside it or the window never appears.
bool showWide(Form1 &form, int x)
{
    form.resize(kWideWidthTwips / Form1::kTwipsPerPixel, form.height());
    const QRect used = form.childrenRect();
    if (!form.rect().contains(used))
        return fail(QStringLiteral("controls reach to %1x%2, beyond the %3x%4 window")
                        .arg(used.right() + 1)
                        .arg(used.bottom() + 1)
                        .arg(form.width())
                        .arg(form.height()));
    form.move(x, kScreenMargin);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, int(kExposeLimit.count())))
        return fail(
            QStringLiteral("the window was not shown within %1 ms").arg(kExposeLimit.count()));
    return true;
}

bool save(QWidget &window, const QDir &folder, const QString &name)
{
    const QPixmap picture = window.grab();
    const QString path = folder.filePath(name);
    if (picture.isNull() || !picture.save(path, "PNG"))
        return fail(QStringLiteral("could not write %1").arg(path));
    std::printf("screenshots: wrote %s (%dx%d)\n", qPrintable(path), picture.width(),
                picture.height());
    return true;
}

bool saveLoadedWindow(const QDir &folder)
{
    TestWindow station(TestWindow::Real);
    if (!showWide(*station.form, kScreenMargin))
        return false;
    return save(*station.form, folder, QStringLiteral("window.png"));
}

bool saveLoopBackCheck(const QDir &folder)
{
    // Port 1 and port 2 are the two ends of the cable, in a port folder of
    // this run's own.
    PortFolder ports;
    NullModemCable cable;
    if (!ports.isValid())
        return fail(QStringLiteral("no temporary port folder"));
    if (!cable.isValid())
        return fail(QStringLiteral("no virtual cable: %1").arg(cable.error()));
    if (!ports.map(1, cable.endA()) || !ports.map(2, cable.endB()))
        return fail(QStringLiteral("could not map ports 1 and 2 in %1").arg(ports.path()));

    TestWindow answering(TestWindow::Real);
    if (!answering.open(2))
        return fail(QStringLiteral("port 2 (%1) did not open").arg(cable.endB()));
    answering.answer(kCheckText);

    TestWindow checking(TestWindow::Real);
    if (!checking.open(1))
        return fail(QStringLiteral("port 1 (%1) did not open").arg(cable.endA()));

    if (!showWide(*checking.form, kScreenMargin) ||
        !showWide(*answering.form,
                  kScreenMargin + checking.form->frameGeometry().width() + kWindowGap))
        return false;

    checking.check(kCheckText, kCheckIntervalMs);
    // The chart window, open from the start of the run.
    checking.form->showChart();
    ChartWindow *chart = checking.form->chartWindow();
    if (!QTest::qWaitForWindowExposed(chart, int(kExposeLimit.count())))
        return fail(QStringLiteral("the chart window was not shown within %1 ms")
                        .arg(kExposeLimit.count()));
    QTest::qWait(int(kCheckLength.count()));
    checking.form->controls().startButton->click(); // stop
    QTest::qWait(int(kSettleAfterStop.count()));

    const auto &stats = checking.check().statistics().values;
    if (stats[Statistics::Count] < 1 || stats[Statistics::Errors] != 0)
        return fail(QStringLiteral("the check went wrong: %1 exchanges, %2 errors")
                        .arg(checking.c().statisticsValues[Statistics::Count]->text(),
                             checking.c().statisticsValues[Statistics::Errors]->text()));

    // The chart as it stands once its last redraw is done.
    chart->redraw();
    return save(*checking.form, folder, QStringLiteral("demo-checking.png")) &&
           save(*answering.form, folder, QStringLiteral("demo-answering.png")) &&
           save(*chart, folder, QStringLiteral("chart.png"));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("commcheck"));
    QApplication::setApplicationName(QStringLiteral("commcheck"));

    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", qPrintable(args.value(0)));
        return 2;
    }
    const QDir folder(args[1]);
    if (!QDir().mkpath(folder.path())) {
        fail(QStringLiteral("cannot make %1").arg(folder.path()));
        return 1;
    }
    return saveLoadedWindow(folder) && saveLoopBackCheck(folder) ? 0 : 1;
}
