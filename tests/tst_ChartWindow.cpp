// The chart window of a checking station: opened from Ctrl+G or from the
// statistics' context menu, one per main window; the run saved from Ctrl+L or
// the same menu; the run so far shown on opening and followed while shown.
#include "ChartLoader.h"
#include "ChartPlots.h"
#include "ChartWindow.h"
#include "ExchangeRecord.h"
#include "ScratchFiles.h"
#include "TestWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

class ChartWindowTest : public QObject {
    Q_OBJECT
private slots:
    void entryPoints_data();
    void entryPoints();
    void secondCtrlGRaisesTheSameWindow();
    void showsTheRunSoFarAndFollowsIt();
    void figuresAreReadWithTheirCaptions();
    void moduleFoundBesideTheProgram();
    void withoutTheModuleShowsFiguresAndWhy();
};

namespace {

constexpr int kWaitMs = 20000;
const QString kText = QStringLiteral("ABC");

// Opens `widget`'s context menu as a right click does and chooses `item`
// from it; false when no menu with that item came up. The menu runs its own
// event loop, so it is answered from a timer inside that loop.
bool chooseFromContextMenu(QWidget *widget, const QString &item)
{
    bool chosen = false;
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        look.stop();
        for (QAction *action : menu->actions()) {
            if (action->text() == item) {
                menu->setActiveAction(action);
                chosen = true;
            }
        }
        if (chosen)
            QTest::keyClick(menu, Qt::Key_Return);
        else
            menu->close();
    });
    look.start();
    const QPoint middle = widget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, middle, widget->mapToGlobal(middle));
    QApplication::sendEvent(widget, &event);
    return chosen;
}

bool showActive(QWidget *window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, kWaitMs);
}

// A checking station on fakes, its check started; false when the port
// would not open.
bool startChecking(TestWindow &f)
{
    if (!f.open(1))
        return false;
    f.check(kText, 100);
    return true;
}

// One exchange: a probe, its echo after `delay`, the poll that finds it.
void exchange(TestWindow &f, std::chrono::milliseconds delay)
{
    f.probeTimer->fire();
    f.clock->advance(delay);
    f.port->feed(kText.toLatin1());
    f.pollTimer->fire();
}

} // namespace

void ChartWindowTest::entryPoints_data()
{
    QTest::addColumn<QString>("menuOn"); // a statistics value; empty: the shortcut
    QTest::addColumn<QString>("item");   // the menu's item
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<bool>("chart"); // opens the chart, or saves

    const QString chart = QStringLiteral("応答時間グラフ...");
    const QString save = QStringLiteral("記録を保存...");
    QTest::newRow("Ctrl+G") << QString() << QString() << QKeySequence(QStringLiteral("Ctrl+G"))
                            << true;
    QTest::newRow("menu on 時間") << "Label4_0" << chart << QKeySequence() << true;
    QTest::newRow("menu on エラー") << "Label4_5" << chart << QKeySequence() << true;
    QTest::newRow("Ctrl+L") << QString() << QString() << QKeySequence(QStringLiteral("Ctrl+L"))
                            << false;
    QTest::newRow("menu on カウント") << "Label4_4" << save << QKeySequence() << false;
}

void ChartWindowTest::entryPoints()
{
    QFETCH(QString, menuOn);
    QFETCH(QString, item);
    QFETCH(QKeySequence, key);
    QFETCH(bool, chart);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    TestWindow f;
    QVERIFY(startChecking(f));
    exchange(f, 40ms);
    exchange(f, 60ms);
    QVERIFY(showActive(f.form.get()));
    f.dialog->choose(path);

    if (menuOn.isEmpty()) {
        QTest::keySequence(f.form.get(), key);
    } else {
        auto *value = f.form->findChild<QLabel *>(menuOn);
        QVERIFY(value);
        QVERIFY(chooseFromContextMenu(value, item));
    }

    if (chart) {
        ChartWindow *window = f.form->chartWindow();
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), kWaitMs);
        QCOMPARE(window->windowTitle(), QStringLiteral("応答時間グラフ"));
        QCOMPARE(window->value(ChartWindow::Count)->text(), QStringLiteral("2"));
        QVERIFY(f.dialog->shown().isEmpty());
    } else {
        QVERIFY(!f.form->chartWindow());
        QCOMPARE(f.dialog->shown().size(), 1);
        QCOMPARE(ScratchFiles::fileBytes(path).count("\r\n"), 3); // the header and two rows
    }
}

void ChartWindowTest::secondCtrlGRaisesTheSameWindow()
{
    TestWindow f;
    QVERIFY(showActive(f.form.get()));
    QTest::keySequence(f.form.get(), QKeySequence(QStringLiteral("Ctrl+G")));
    QPointer<ChartWindow> first = f.form->chartWindow();
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(first->isActiveWindow(), kWaitMs);

    QVERIFY(showActive(f.form.get()));
    QTest::keySequence(f.form.get(), QKeySequence(QStringLiteral("Ctrl+G")));
    QCOMPARE(f.form->chartWindow(), first.data());
    QTRY_VERIFY_WITH_TIMEOUT(first->isActiveWindow(), kWaitMs);
    QCOMPARE(f.form->findChildren<ChartWindow *>().size(), 1);
}

void ChartWindowTest::showsTheRunSoFarAndFollowsIt()
{
    TestWindow f;
    QVERIFY(startChecking(f));
    for (auto delay : {40ms, 80ms, 60ms})
        exchange(f, delay);
    f.form->showChart();
    ChartWindow *chart = f.form->chartWindow();
    QVERIFY(QTest::qWaitForWindowExposed(chart, kWaitMs));
    auto shown = [chart](ChartWindow::Figure figure) { return chart->value(figure)->text(); };
    QCOMPARE(shown(ChartWindow::Count), QStringLiteral("3"));
    QCOMPARE(shown(ChartWindow::Max), QStringLiteral("80"));
    QCOMPARE(shown(ChartWindow::P50), QStringLiteral("60"));
    QVERIFY(chart->plots()->pointsShown(ChartPlots::Layer::Times) > 0);

    // Followed while shown: a new exchange, and errors as the main window counts them.
    exchange(f, 20ms);
    QTRY_COMPARE_WITH_TIMEOUT(shown(ChartWindow::Min), QStringLiteral("20"), kWaitMs);
    QCOMPARE(shown(ChartWindow::Count), QStringLiteral("4"));
    f.probeTimer->fire();
    f.port->feed("XYZ?");
    f.pollTimer->fire();
    QTRY_COMPARE_WITH_TIMEOUT(shown(ChartWindow::Errors),
                              f.c().statisticsValues[Statistics::Errors]->text(), kWaitMs);
    QCOMPARE(shown(ChartWindow::Errors), QStringLiteral("1"));
    // ... marked when it was counted.
    QTRY_COMPARE_WITH_TIMEOUT(chart->plots()->pointsShown(ChartPlots::Layer::Errors), 1, kWaitMs);

    // 送信 begins a new run, which starts empty.
    f.click(Form1::Send);
    QTRY_COMPARE_WITH_TIMEOUT(shown(ChartWindow::Count), QStringLiteral("0"), kWaitMs);
    QCOMPARE(f.form->record().total(), std::uint64_t(0));
    QCOMPARE(chart->plots()->pointsShown(ChartPlots::Layer::Times), 0);
}

void ChartWindowTest::figuresAreReadWithTheirCaptions()
{
    TestWindow f;
    f.form->showChart();
    ChartWindow *chart = f.form->chartWindow();
    for (int i = 0; i < ChartWindow::FigureCount; ++i) {
        QLabel *value = chart->value(ChartWindow::Figure(i));
        value->setText(QStringLiteral("12.5"));
        QAccessibleInterface *read = QAccessible::queryAccessibleInterface(value);
        QCOMPARE(read->text(QAccessible::Name), QStringLiteral("12.5"));
        const auto labels = read->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name),
                 chart->caption(ChartWindow::Figure(i))->text());
    }
    for (const char *name : {"responseChart", "histogramChart"}) {
        auto *part = chart->findChild<QWidget *>(QString::fromLatin1(name));
        QVERIFY2(part, name);
        QVERIFY(!QAccessible::queryAccessibleInterface(part)->text(QAccessible::Name).isEmpty());
    }
}

void ChartWindowTest::moduleFoundBesideTheProgram()
{
    TestWindow f;
    ChartLoader::setModuleFile(QString());
    f.form->showChart();
    QVERIFY(f.form->chartWindow()->plots());
}

void ChartWindowTest::withoutTheModuleShowsFiguresAndWhy()
{
    TestWindow f;
    ChartLoader::setModuleFile(QStringLiteral("/nonexistent/commcheck-chart"));
    QVERIFY(startChecking(f));
    exchange(f, 40ms);
    f.form->showChart();
    ChartWindow *chart = f.form->chartWindow();
    QVERIFY(QTest::qWaitForWindowExposed(chart, kWaitMs));
    QCOMPARE(chart->plots(), nullptr);
    QCOMPARE(chart->value(ChartWindow::Count)->text(), QStringLiteral("1"));
    auto *why = chart->findChild<QLabel *>(QStringLiteral("plotsMissing"));
    QVERIFY(why);
    QVERIFY2(why->text().contains(QStringLiteral("/nonexistent/commcheck-chart")),
             qPrintable(why->text()));
}

QTEST_MAIN(ChartWindowTest)
#include "tst_ChartWindow.moc"
