// The window as it starts: controls, captions, places, defaults and state;
// and the check's settings it remembers between runs.
#include "CaptionButton.h"
#include "ChartWindow.h"
#include "LoopbackCheck.h"
#include "PtyPort.h"
#include "TestWindow.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void onlyCaptionsTooWideForTheirButtonWrap_data();
    void onlyCaptionsTooWideForTheirButtonWrap();
    void everyControlHasAnAccessibleName_data();
    void everyControlHasAnAccessibleName();
    void liveValuesAreReadAsTheyChange();
    void portNumberHintListsTheFolderAsItIsNow();
    void controlPlaceAndCaption_data();
    void controlPlaceAndCaption();
    void windowStartsWithTheLeftColumnOnly();
    void widenedWindowShowsTheCheckColumn();
    void loadFillsListsAndDefaults();
    void portButtonsStartClosed();
    void checkColumnStartsIdle();
    void stateStartsEmpty();
    void tabOrderFollowsTabIndexes();
    void pgFontOnMarkedControls_data();
    void pgFontOnMarkedControls();
    void valueLabelsHaveABorder();
    void multiLineBoxesUseCrLf();
    void typedComboTextHasNoListIndex();
    void checkSettingsAreRemembered_data();
    void checkSettingsAreRemembered();
    void silentFarEndCountsAsErrorsOnceATimeoutIsSet();
    void chartShowsLostRepliesWhereATimeoutIsSet();
};

void TestForm1::controlPlaceAndCaption_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");

    auto row = [](const char *name, const QString &caption, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << caption << QRect(l, t, w, h);
    };
    row("Label1_5", QStringLiteral("ポートＮＯ"), 30, 90, 975, 225);
    row("Text1_5", QStringLiteral("1"), 1050, 90, 405, 255);
    row("Label1_0", QStringLiteral("ボーレート"), 30, 390, 975, 225);
    row("Combo1_0", QStringLiteral("9600"), 1050, 360, 945, 300);
    row("Label1_1", QStringLiteral("ビット長"), 30, 660, 975, 225);
    row("Combo1_1", QStringLiteral("8"), 1050, 660, 945, 300);
    row("Label1_2", QStringLiteral("ﾊﾟﾘﾃｨｰ"), 30, 990, 975, 225);
    row("Combo1_2", QStringLiteral("N"), 1050, 990, 945, 300);
    row("Label1_3", QStringLiteral("ｽﾄｯﾌﾟ"), 30, 1320, 975, 225);
    row("Combo1_3", QStringLiteral("1"), 1050, 1320, 945, 300);
    row("Label1_4", QStringLiteral("ﾊﾝﾄﾞｼｪｲｸ"), 30, 1650, 975, 225);
    row("Combo1_4", QStringLiteral("XOn/XOff"), 1050, 1620, 1875, 300);
    row("Command1_0", QStringLiteral("オープン"), 90, 2010, 945, 345);
    row("Command1_3", QStringLiteral("クローズ"), 1080, 2010, 945, 345);
    row("Label2_4", QStringLiteral("文字コードは[ ]で囲ってください。改行コード１３＝[13]"), 1080,
        2370, 4185, 165);
    row("Command1_1", QStringLiteral("送信"), 30, 2610, 945, 345);
    row("Text2", QString(), 1050, 2580, 4215, 705);
    row("Text3", QString(), 1050, 3300, 4215, 2235);
    row("Command1_2", QStringLiteral("受信"), 30, 4050, 945, 345);
    row("Check1", QStringLiteral("通信フィードバックチェック"), 5430, 90, 2445, 285);
    row("Label3_0", QStringLiteral("インターバル"), 5400, 420, 1095, 255);
    row("Text4", QStringLiteral("1000"), 6540, 390, 915, 315);
    row("Label3_1", QStringLiteral("msec"), 7500, 480, 435, 225);
    row("Command2", QStringLiteral("開始"), 5400, 720, 705, 375);
    row("Label5_0", QStringLiteral("時間"), 5670, 1200, 705, 255);
    row("Label5_1", QStringLiteral("累計"), 5670, 1500, 705, 255);
    row("Label5_3", QStringLiteral("最大"), 5670, 1800, 705, 255);
    row("Label5_4", QStringLiteral("最小"), 5670, 2100, 705, 255);
    row("Label5_2", QStringLiteral("カウント"), 5670, 2400, 705, 255);
    row("Label5_5", QStringLiteral("エラー"), 5670, 2700, 705, 255);
    for (int i = 0; i < 6; ++i) {
        const QByteArray name = "Label4_" + QByteArray::number(i);
        QTest::newRow(name.constData()) << QString::fromLatin1(name) << QStringLiteral("Label4")
                                        << QRect(6420, 1200 + 300 * i, 1485, 255);
    }
    row("Command3_0", QStringLiteral("ファイル読み"), 5700, 3030, 795, 405);
    row("Command3_1", QStringLiteral("ファイル書き"), 6540, 3030, 795, 405);
}

namespace {

QString captionOf(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    if (auto *box = qobject_cast<QPlainTextEdit *>(w))
        return box->toPlainText();
    return QStringLiteral("<unknown kind>");
}

} // namespace

void TestForm1::controlPlaceAndCaption()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);

    TestWindow f;
    auto *w = f.form->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name + " is missing"));
    QCOMPARE(captionOf(w), caption);
    const int k = Form1::kTwipsPerPixel;
    const QRect expected(qRound(twips.x() / double(k)), qRound(twips.y() / double(k)),
                         qRound(twips.width() / double(k)), qRound(twips.height() / double(k)));
    QCOMPARE(w->geometry(), expected);

    // Places do not follow the window's size.
    f.form->resize(900, 700);
    QCOMPARE(w->geometry(), expected);
}

void TestForm1::windowStartsWithTheLeftColumnOnly()
{
    TestWindow f;
    QCOMPARE(f.form->windowTitle(), QStringLiteral("ペリモ通信チェック"));
    QCOMPARE(f.form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(f.form->size(), QSize(353, 371));
    QVERIFY(!f.form->windowIcon().isNull());
    QCOMPARE(f.form->windowIcon().availableSizes().value(0), QSize(32, 32));

    const QRect client = f.form->rect();
    for (QWidget *w :
         {static_cast<QWidget *>(f.c().receivedText), static_cast<QWidget *>(f.c().portButtons[2]),
          static_cast<QWidget *>(f.c().hint)})
        QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
    for (QWidget *w :
         {static_cast<QWidget *>(f.c().checkEnabled), static_cast<QWidget *>(f.c().startButton),
          static_cast<QWidget *>(f.c().statisticsValues[5]),
          static_cast<QWidget *>(f.c().fileButtons[1])})
        QVERIFY2(!client.intersects(w->geometry()), qPrintable(w->objectName()));
}

void TestForm1::widenedWindowShowsTheCheckColumn()
{
    TestWindow f;
    f.form->resize(560, 371);
    const QRect client = f.form->rect();
    for (QWidget *w :
         {static_cast<QWidget *>(f.c().checkEnabled), static_cast<QWidget *>(f.c().startButton),
          static_cast<QWidget *>(f.c().statisticsValues[5]),
          static_cast<QWidget *>(f.c().fileButtons[1])})
        QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
}

void TestForm1::loadFillsListsAndDefaults()
{
    TestWindow f;
    auto items = [](QComboBox *combo) {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list << combo->itemText(i);
        return list;
    };
    QCOMPARE(items(f.c().lineSettings[0]), QStringList({"19200", "9600", "4800", "2400", "1200"}));
    QCOMPARE(items(f.c().lineSettings[1]), QStringList({"8", "7"}));
    QCOMPARE(items(f.c().lineSettings[2]), QStringList({"N", "E", "O"}));
    QCOMPARE(items(f.c().lineSettings[3]), QStringList({"1", "2"}));
    QCOMPARE(items(f.c().lineSettings[4]),
             QStringList({QStringLiteral("なし"), "XOn/XOff", "RTS/CTS", "RTS/CTS + XOn/XOff"}));
    QCOMPARE(f.c().lineSettings[4]->currentIndex(), 1);
    QCOMPARE(Controls::listIndex(f.c().lineSettings[4]), 1);
    for (QComboBox *combo : f.c().lineSettings)
        QVERIFY2(combo->isEditable(), qPrintable(combo->objectName()));
}

void TestForm1::portButtonsStartClosed()
{
    TestWindow f;
    QVERIFY(f.c().portButtons[0]->isEnabled());
    QVERIFY(!f.c().portButtons[1]->isEnabled());
    QVERIFY(!f.c().portButtons[2]->isEnabled());
    QVERIFY(!f.c().portButtons[3]->isEnabled());
    QVERIFY(!f.port->isOpen());
}

void TestForm1::checkColumnStartsIdle()
{
    TestWindow f;
    QVERIFY(!f.c().checkEnabled->isChecked());
    QCOMPARE(f.c().startButton->text(), QStringLiteral("開始"));
    for (QLabel *label : f.c().statisticsValues)
        QCOMPARE(label->text(), QStringLiteral("Label4"));
    QCOMPARE(f.probeTimer->interval(), 0);
    QCOMPARE(f.pollTimer->interval(), 0);
}

void TestForm1::stateStartsEmpty()
{
    TestWindow f;
    const LoopbackCheck &check = f.form->check();
    QCOMPARE(check.mode(), LoopbackCheck::Mode::Idle);
    QVERIFY(!check.running());
    QVERIFY(!check.waiting());
    QVERIFY(check.received().isEmpty());
    for (float v : check.statistics().values)
        QCOMPARE(v, 0.0f);
}

void TestForm1::tabOrderFollowsTabIndexes()
{
    TestWindow f;
    const QStringList expected = {
        "Command1_0", "Command1_1", "Command1_2", "Command1_3", "Text2",     "Text1_5",
        "Text3",      "Combo1_0",   "Combo1_1",   "Combo1_2",   "Combo1_3",  "Combo1_4",
        "Check1",     "Text4",      "Command2",   "Command3_0", "Command3_1"};
    QWidget *w = f.form->findChild<QWidget *>(expected.first());
    for (int i = 1; i < expected.size(); ++i) {
        w = w->nextInFocusChain();
        // Labels take no focus, and combo boxes put their line edit in the
        // chain right after themselves.
        while (w && (w->objectName().isEmpty() || !(w->focusPolicy() & Qt::TabFocus)))
            w = w->nextInFocusChain();
        QVERIFY(w);
        QCOMPARE(w->objectName(), expected[i]);
    }
}

void TestForm1::pgFontOnMarkedControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("pg");
    QTest::addColumn<bool>("bold");

    QTest::newRow("port number caption") << "Label1_5" << true << true;
    QTest::newRow("baud caption") << "Label1_0" << true << true;
    QTest::newRow("handshaking caption") << "Label1_4" << true << true;
    QTest::newRow("send box") << "Text2" << true << false;
    QTest::newRow("check box") << "Check1" << true << false;
    QTest::newRow("interval caption") << "Label3_0" << true << false;
    QTest::newRow("unit caption") << "Label3_1" << true << false;
    QTest::newRow("statistics caption") << "Label5_2" << true << false;
    QTest::newRow("statistics value") << "Label4_0" << true << false;
    QTest::newRow("receive box") << "Text3" << false << false;
    QTest::newRow("hint") << "Label2_4" << false << false;
    QTest::newRow("open button") << "Command1_0" << false << false;
}

void TestForm1::pgFontOnMarkedControls()
{
    QFETCH(QString, name);
    QFETCH(bool, pg);
    QFETCH(bool, bold);

    TestWindow f;
    auto *w = f.form->findChild<QWidget *>(name);
    QVERIFY(w);
    const QFont font = w->font();
    // The face the window was laid out for, or an installed Japanese
    // proportional Gothic in its place, named alone and really drawn with.
    const QStringList gothics = {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                                 QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic")};
    QCOMPARE(font.families().size(), 1);
    const QString family = font.families().front();
    QVERIFY2(gothics.contains(family), qPrintable(family));
    QCOMPARE(QFontInfo(font).family(), family);
    // The marked controls are a size up from the window's own 9 points.
    QCOMPARE(font.pointSizeF(), pg ? 9.75 : 9.0);
    QCOMPARE(font.weight(), bold ? QFont::Bold : QFont::Normal);
}

void TestForm1::valueLabelsHaveABorder()
{
    TestWindow f;
    for (QLabel *label : f.c().statisticsValues)
        QVERIFY2(label->frameShape() != QFrame::NoFrame && label->lineWidth() == 1,
                 qPrintable(label->objectName()));
    QCOMPARE(f.c().statisticsCaptions[0]->frameShape(), QFrame::NoFrame);
}

void TestForm1::multiLineBoxesUseCrLf()
{
    TestWindow f;
    Controls::setBoxText(f.c().sendText, QStringLiteral("A\r\nB"));
    QCOMPARE(f.c().sendText->toPlainText(), QStringLiteral("A\nB"));
    QCOMPARE(Controls::boxText(f.c().sendText), QStringLiteral("A\r\nB"));
    QCOMPARE(f.c().sendText->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(f.c().receivedText->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestForm1::typedComboTextHasNoListIndex()
{
    TestWindow f;
    QComboBox *handshaking = f.c().lineSettings[4];
    handshaking->setEditText(QStringLiteral("XOn"));
    QCOMPARE(Controls::listIndex(handshaking), -1);
    handshaking->setEditText(QStringLiteral("RTS/CTS"));
    QCOMPARE(Controls::listIndex(handshaking), 2);
    // Typing and confirming never adds the typed text to the list.
    handshaking->setEditText(QStringLiteral("custom"));
    QTest::keyClick(handshaking->lineEdit(), Qt::Key_Return);
    QCOMPARE(handshaking->count(), 4);
}

void TestForm1::onlyCaptionsTooWideForTheirButtonWrap_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("wraps");

    QTest::newRow("open button") << "Command1_0" << false;
    QTest::newRow("send button") << "Command1_1" << false;
    QTest::newRow("start button") << "Command2" << false;
    QTest::newRow("load button") << "Command3_0" << true;
    QTest::newRow("save button") << "Command3_1" << true;
}

void TestForm1::onlyCaptionsTooWideForTheirButtonWrap()
{
    QFETCH(QString, name);
    QFETCH(bool, wraps);

    TestWindow f;
    auto *button = f.form->findChild<CaptionButton *>(name);
    QVERIFY2(button, qPrintable(name + " is missing"));
    QCOMPARE(button->wrapsCaption(), wraps);
    // Wrapped or not, the caption is the button's text as set.
    QVERIFY(!button->text().contains(u'\n'));
    // Two lines of the caption fit the button's height.
    if (wraps)
        QVERIFY(2 * button->fontMetrics().height() <= button->height());
}

void TestForm1::everyControlHasAnAccessibleName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("accessible");
    QTest::addColumn<QString>("labelledBy"); // empty: no label relation expected

    // A combo box's name is Qt's choice (its text on Linux, where the label
    // comes as a relation): only the relation is checked.
    const QString none;
    QTest::newRow("port number box, by its label") << "Text1_5"
                                                   << "ポートＮＯ"
                                                   << "ポートＮＯ";
    QTest::newRow("baud box") << "Combo1_0" << none << "ボーレート";
    QTest::newRow("data bits box") << "Combo1_1" << none << "ビット長";
    QTest::newRow("parity box") << "Combo1_2" << none << "ﾊﾟﾘﾃｨｰ";
    QTest::newRow("stop bits box") << "Combo1_3" << none << "ｽﾄｯﾌﾟ";
    QTest::newRow("handshaking box") << "Combo1_4" << none << "ﾊﾝﾄﾞｼｪｲｸ";
    QTest::newRow("interval box") << "Text4"
                                  << "インターバル"
                                  << "インターバル";
    QTest::newRow("send box") << "Text2"
                              << "送信テキスト" << none;
    QTest::newRow("receive box") << "Text3"
                                 << "受信テキスト" << none;
    QTest::newRow("open button") << "Command1_0"
                                 << "オープン" << none;
    QTest::newRow("check box") << "Check1"
                               << "通信フィードバックチェック" << none;
    QTest::newRow("start button, by its caption") << "Command2"
                                                  << "開始" << none;
    QTest::newRow("save button") << "Command3_1"
                                 << "ファイル書き" << none;
    // Values are read as they stand, with the caption of their row (not of
    // their index) as label.
    QTest::newRow("last time value") << "Label4_0"
                                     << "Label4"
                                     << "時間";
    QTest::newRow("total value") << "Label4_1"
                                 << "Label4"
                                 << "累計";
    QTest::newRow("maximum value") << "Label4_2"
                                   << "Label4"
                                   << "最大";
    QTest::newRow("minimum value") << "Label4_3"
                                   << "Label4"
                                   << "最小";
    QTest::newRow("count value") << "Label4_4"
                                 << "Label4"
                                 << "カウント";
    QTest::newRow("errors value") << "Label4_5"
                                  << "Label4"
                                  << "エラー";
}

void TestForm1::everyControlHasAnAccessibleName()
{
    QFETCH(QString, name);
    QFETCH(QString, accessible);
    QFETCH(QString, labelledBy);

    TestWindow f;
    auto *w = f.form->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name + " is missing"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    QVERIFY(iface);
    if (!accessible.isEmpty())
        QCOMPARE(iface->text(QAccessible::Name), accessible);
    if (labelledBy.isEmpty())
        return;
    const auto labels = iface->relations(QAccessible::Label);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().first->text(QAccessible::Name), labelledBy);
}

void TestForm1::liveValuesAreReadAsTheyChange()
{
    TestWindow f;
    f.c().statisticsValues[5]->setText(QStringLiteral("3"));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(f.c().statisticsValues[5])->text(QAccessible::Name),
        QStringLiteral("3"));
    f.c().startButton->setText(QStringLiteral("終了"));
    QCOMPARE(QAccessible::queryAccessibleInterface(f.c().startButton)->text(QAccessible::Name),
             QStringLiteral("終了"));
}

void TestForm1::portNumberHintListsTheFolderAsItIsNow()
{
    PtyPort line(6);
    QVERIFY2(line.problem().isEmpty(), qPrintable(line.problem()));

    TestWindow f;
    QLineEdit *box = f.c().portNumber;
    auto hintNow = [&] {
        QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(box, &event);
        return box->toolTip();
    };
    const QString first = hintNow();
    QVERIFY2(first.contains(QStringLiteral("6 = %1").arg(line.pty.slavePath())), qPrintable(first));

    // The hint is worked out again each time it shows.
    QVERIFY(line.folder.map(8, QStringLiteral("/dev/no-such-device")));
    const QString second = hintNow();
    QVERIFY2(second.contains(QStringLiteral("8 -> /dev/no-such-device")), qPrintable(second));
}

namespace {

// An item of the menu a right click opens on the statistics' values.
QAction *menuItem(TestWindow &f, const QString &text)
{
    for (QAction *action : f.c().statisticsValues[Statistics::Errors]->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// A window's check settings as the user meets them: whether 受信した時点で計る
// is ticked, the 時間 an exchange shows whose reply arrives 10 ms after its
// probe and is found by a poll 40 ms later (10 when timed on arrival, else
// 50), and the reply timeout the check has.
QString checkSettingsOf(TestWindow &f)
{
    QAction *precise = menuItem(f, QStringLiteral("受信した時点で計る"));
    if (!precise || !precise->isCheckable())
        return QStringLiteral("no checkable item 受信した時点で計る");
    if (!f.open(1))
        return QStringLiteral("the port did not open");
    f.check(QStringLiteral("A[13]"), 1000);
    f.probeTimer->fire();
    f.clock->advance(10ms);
    f.port->feed("A\r");
    f.clock->advance(40ms);
    f.pollTimer->fire();
    const auto timeout = f.check().replyTimeout();
    return QStringLiteral("ticked %1, 時間 %2, timeout %3")
        .arg(precise->isChecked())
        .arg(f.c().statisticsValues[Statistics::LastTime]->text())
        .arg(timeout ? QString::number(timeout->count()) : QStringLiteral("none"));
}

} // namespace

void TestForm1::checkSettingsAreRemembered_data()
{
    QTest::addColumn<bool>("tick");           // 受信した時点で計る chosen
    QTest::addColumn<QList<int>>("timeouts"); // ms given to 応答待ち時間..., in turn
    QTest::addColumn<QString>("settings");    // checkSettingsOf() then, and in the next run

    QTest::newRow("first run: polled, no timeout")
        << false << QList<int>{} << QStringLiteral("ticked 0, 時間 50, timeout none");
    QTest::newRow("受信した時点で計る ticked")
        << true << QList<int>{} << QStringLiteral("ticked 1, 時間 10, timeout none");
    QTest::newRow("応答待ち時間 500")
        << false << QList<int>{500} << QStringLiteral("ticked 0, 時間 50, timeout 500");
    QTest::newRow("応答待ち時間 0 after 500")
        << false << QList<int>{500, 0} << QStringLiteral("ticked 0, 時間 50, timeout none");
}

void TestForm1::checkSettingsAreRemembered()
{
    QFETCH(bool, tick);
    QFETCH(QList<int>, timeouts);
    QFETCH(QString, settings);

    // Kept where the test program keeps them, never in the user's settings.
    QVERIFY2(QSettings().fileName().startsWith(TestWindow::settingsFolder() + u'/'),
             qPrintable(QSettings().fileName()));
    {
        TestWindow f;
        QAction *precise = menuItem(f, QStringLiteral("受信した時点で計る"));
        QVERIFY(precise);
        QVERIFY(menuItem(f, QStringLiteral("応答待ち時間...")));
        if (tick)
            precise->trigger();
        for (int ms : timeouts)
            f.form->setReplyTimeout(std::chrono::milliseconds(ms));
        QCOMPARE(checkSettingsOf(f), settings);
    }
    TestWindow next(TestWindow::Fakes, TestWindow::Remembered);
    QCOMPARE(checkSettingsOf(next), settings);
}

void TestForm1::silentFarEndCountsAsErrorsOnceATimeoutIsSet()
{
    TestWindow f;
    QVERIFY(f.open(1));
    f.form->setReplyTimeout(500ms);
    f.check(QStringLiteral("ABC[13]"), 1000);
    const QLabel *errors = f.c().statisticsValues[Statistics::Errors];
    f.port->clearWritten();

    QVERIFY(f.probeTimer->fire());
    QCOMPARE(f.port->written(), QByteArray("ABC\r"));
    f.clock->advance(499ms);
    QVERIFY(f.pollTimer->fire());
    QVERIFY(f.check().waiting());
    QCOMPARE(errors->text(), QStringLiteral("Label4"));

    // Given up at the first poll past the timeout.
    f.clock->advance(2ms);
    QVERIFY(f.pollTimer->fire());
    QCOMPARE(errors->text(), QStringLiteral("1"));
    QVERIFY(f.probeTimer->fire());
    QCOMPARE(f.port->written(), QByteArray("ABC\rABC\r"));

    // The figures an exchange shows keep it counted.
    f.clock->advance(20ms);
    f.port->feed("ABC\r");
    QVERIFY(f.pollTimer->fire());
    QCOMPARE(f.c().statisticsValues[Statistics::Count]->text(), QStringLiteral("1"));
    QCOMPARE(errors->text(), QStringLiteral("1"));
}

void TestForm1::chartShowsLostRepliesWhereATimeoutIsSet()
{
    constexpr int kWaitMs = 20000;
    TestWindow f;
    f.form->showChart();
    ChartWindow *chart = f.form->chartWindow();
    QVERIFY(QTest::qWaitForWindowExposed(chart, kWaitMs));
    const QLabel *lost = chart->caption(ChartWindow::Lost);
    QCOMPARE(lost->text(), QStringLiteral("タイムアウト"));
    QVERIFY(!lost->isVisible());

    f.form->setReplyTimeout(500ms);
    QTRY_VERIFY_WITH_TIMEOUT(lost->isVisible(), kWaitMs);

    // Changed while the chart is closed: shown as it is when it opens again.
    chart->hide();
    f.form->setReplyTimeout(std::nullopt);
    f.form->showChart();
    QVERIFY(QTest::qWaitForWindowExposed(chart, kWaitMs));
    QVERIFY(!lost->isVisible());
}

QTEST_MAIN(TestForm1)
#include "tst_Form1.moc"
