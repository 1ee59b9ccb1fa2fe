#include "Form1.h"

#include "CaptionButton.h"
#include "ChartWindow.h"
#include "Clock.h"
#include "ExchangeRecord.h"
#include "FileCommands.h"
#include "LongLineBox.h"
#include "LoopbackCheck.h"
#include "NumberText.h"
#include "PortHints.h"
#include "PortLocator.h"
#include "PortSession.h"
#include "PortSurvey.h"
#include "RecordCommands.h"
#include "SerialPort.h"
#include "Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "icons/commcheck.xpm"

namespace {

// The window's client area at start, in twips: just the left-hand column.
constexpr int kClientWidthTwips = 5295;
constexpr int kClientHeightTwips = 5565;

struct Twips {
    int left, top, width, height;
};

int px(int twips)
{
    return (twips + Form1::kTwipsPerPixel / 2) / Form1::kTwipsPerPixel;
}

void place(QWidget *w, Twips t)
{
    w->setGeometry(px(t.left), px(t.top), px(t.width), px(t.height));
}

// The proportional Gothic the window was laid out for, or an installed
// Japanese proportional Gothic where it is absent: the first of them that is
// installed, looked up once. A font naming absent faces first costs a search
// of the font database for each of them whenever a control takes it up.
const QStringList &gothicFamilies()
{
    static const QStringList families = [] {
        const QStringList preferred = {QStringLiteral("ＭＳ Ｐゴシック"),
                                       QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                       QStringLiteral("IPAexGothic")};
        // The list of installed faces, rather than QFontDatabase::hasFamily(),
        // which has the system look for a substitute for each absent face.
        const QStringList installed = QFontDatabase::families();
        for (const QString &family : preferred) {
            if (installed.contains(family, Qt::CaseInsensitive))
                return QStringList{family};
        }
        // None installed: the list as it stands, for the system to substitute.
        return preferred;
    }();
    return families;
}

QFont gothic(double points, bool bold)
{
    QFont font;
    font.setFamilies(gothicFamilies());
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

// The font of the captions and boxes marked for it: 9.75 points.
QFont pgFont(bool bold)
{
    return gothic(9.75, bold);
}

// The window's own font, which every other control takes: the layout's
// places and sizes only fit a compact Japanese face at 9 points.
QFont windowFont()
{
    return gothic(9.0, false);
}

template <typename W> W *make(QWidget *parent, const QString &name, Twips t)
{
    auto *w = new W(parent);
    w->setObjectName(name);
    place(w, t);
    return w;
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &caption, Twips t, bool pg,
                  bool bold = false)
{
    auto *label = make<QLabel>(parent, name, t);
    label->setText(caption);
    if (pg)
        label->setFont(pgFont(bold));
    return label;
}

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &caption, Twips t)
{
    auto *button = make<CaptionButton>(parent, name, t);
    button->setText(caption);
    button->setAutoDefault(false);
    return button;
}

QComboBox *makeCombo(QWidget *parent, int index, Twips t)
{
    auto *combo = make<QComboBox>(parent, QStringLiteral("Combo1_%1").arg(index), t);
    combo->setEditable(true);
    // Typed text is used as it stands and never becomes a list item.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QPlainTextEdit *makeBox(QWidget *parent, const QString &name, Twips t)
{
    auto *box = make<LongLineBox>(parent, name, t);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setTabChangesFocus(true);
    return box;
}

} // namespace

Form1::Form1(PlatformServices services, QWidget *parent)
    : QWidget(parent), services_(std::move(services))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ペリモ通信チェック"));
    setWindowIcon(QIcon(QPixmap(commcheck_xpm)));
    setFont(windowFont());
    resize(px(kClientWidthTwips), px(kClientHeightTwips));

    buildControls();
    setTabOrder();
    nameForAssistiveTools();
    // The port hints are worked out each time they are shown.
    controls_.portNumber->installEventFilter(this);

    bindEngine();

    if (services_.fileDialog) {
        fileCommands_ = std::make_unique<FileCommands>(controls_, *services_.fileDialog);
        for (int i = 0; i < static_cast<int>(controls_.fileButtons.size()); ++i)
            connect(controls_.fileButtons[i], &QPushButton::clicked, this,
                    [this, i] { fileCommands_->click(i); });
    }
    bindRecord();
}

Form1::~Form1()
{
    // The chart reads the record and the engine, which go before the
    // children do.
    delete chart_;
}

void Form1::buildControls()
{
    Controls &c = controls_;
    const bool pg = true;
    const bool bold = true;

    // Left-hand column: port settings, port buttons, the hint and the boxes.
    const std::array<QString, 6> settingCaptions = {
        QStringLiteral("ボーレート"), QStringLiteral("ビット長"), QStringLiteral("ﾊﾟﾘﾃｨｰ"),
        QStringLiteral("ｽﾄｯﾌﾟ"),      QStringLiteral("ﾊﾝﾄﾞｼｪｲｸ"), QStringLiteral("ポートＮＯ")};
    const std::array<Twips, 6> settingLabels = {{{30, 390, 975, 225},
                                                 {30, 660, 975, 225},
                                                 {30, 990, 975, 225},
                                                 {30, 1320, 975, 225},
                                                 {30, 1650, 975, 225},
                                                 {30, 90, 975, 225}}};
    for (int i = 0; i < 6; ++i)
        c.settingCaptions[i] = makeLabel(this, QStringLiteral("Label1_%1").arg(i),
                                         settingCaptions[i], settingLabels[i], pg, bold);

    c.portNumber = make<QLineEdit>(this, QStringLiteral("Text1_5"), {1050, 90, 405, 255});

    const std::array<Twips, 5> combos = {{{1050, 360, 945, 300},
                                          {1050, 660, 945, 300},
                                          {1050, 990, 945, 300},
                                          {1050, 1320, 945, 300},
                                          {1050, 1620, 1875, 300}}};
    for (int i = 0; i < 5; ++i)
        c.lineSettings[i] = makeCombo(this, i, combos[i]);

    const std::array<QString, 4> portCaptions = {QStringLiteral("オープン"), QStringLiteral("送信"),
                                                 QStringLiteral("受信"),
                                                 QStringLiteral("クローズ")};
    const std::array<Twips, 4> portButtonPlaces = {
        {{90, 2010, 945, 345}, {30, 2610, 945, 345}, {30, 4050, 945, 345}, {1080, 2010, 945, 345}}};
    for (int i = 0; i < 4; ++i)
        c.portButtons[i] = makeButton(this, QStringLiteral("Command1_%1").arg(i), portCaptions[i],
                                      portButtonPlaces[i]);

    c.hint = makeLabel(this, QStringLiteral("Label2_4"),
                       QStringLiteral("文字コードは[ ]で囲ってください。改行コード１３＝[13]"),
                       {1080, 2370, 4185, 165}, !pg);

    c.sendText = makeBox(this, QStringLiteral("Text2"), {1050, 2580, 4215, 705});
    c.sendText->setFont(pgFont(!bold));
    c.receivedText = makeBox(this, QStringLiteral("Text3"), {1050, 3300, 4215, 2235});

    // Right-hand column, from 5400 twips on: outside the client area at
    // start, in view once the window is widened.
    c.checkEnabled = make<QCheckBox>(this, QStringLiteral("Check1"), {5430, 90, 2445, 285});
    c.checkEnabled->setText(QStringLiteral("通信フィードバックチェック"));
    c.checkEnabled->setFont(pgFont(!bold));

    c.intervalCaptions[0] = makeLabel(this, QStringLiteral("Label3_0"),
                                      QStringLiteral("インターバル"), {5400, 420, 1095, 255}, pg);
    c.interval = make<QLineEdit>(this, QStringLiteral("Text4"), {6540, 390, 915, 315});
    c.intervalCaptions[1] = makeLabel(this, QStringLiteral("Label3_1"), QStringLiteral("msec"),
                                      {7500, 480, 435, 225}, pg);

    c.startButton =
        makeButton(this, QStringLiteral("Command2"), QStringLiteral("開始"), {5400, 720, 705, 375});

    // The statistics rows. Caption labels are not in slot order on the window:
    // slot i's caption and value share row kRowOfSlot[i].
    const std::array<QString, 6> statCaptions = {
        QStringLiteral("時間"), QStringLiteral("累計"), QStringLiteral("カウント"),
        QStringLiteral("最大"), QStringLiteral("最小"), QStringLiteral("エラー")};
    const std::array<int, 6> captionTops = {1200, 1500, 2400, 1800, 2100, 2700}; // Label5(i)
    const std::array<int, 6> valueTops = {1200, 1500, 1800, 2100, 2400, 2700};   // Label4(i)
    for (int i = 0; i < 6; ++i) {
        c.statisticsCaptions[i] = makeLabel(this, QStringLiteral("Label5_%1").arg(i),
                                            statCaptions[i], {5670, captionTops[i], 705, 255}, pg);
        c.statisticsValues[i] =
            makeLabel(this, QStringLiteral("Label4_%1").arg(i), QStringLiteral("Label4"),
                      {6420, valueTops[i], 1485, 255}, pg);
        c.statisticsValues[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        c.statisticsValues[i]->setLineWidth(1);
        // Its size fixed, a value label taking a new value after every
        // exchange does not have the window look at its layout again.
        c.statisticsValues[i]->setFixedSize(c.statisticsValues[i]->size());
    }

    const std::array<QString, 2> fileCaptions = {QStringLiteral("ファイル読み"),
                                                 QStringLiteral("ファイル書き")};
    const std::array<Twips, 2> fileButtonPlaces = {
        {{5700, 3030, 795, 405}, {6540, 3030, 795, 405}}};
    for (int i = 0; i < 2; ++i)
        c.fileButtons[i] = makeButton(this, QStringLiteral("Command3_%1").arg(i), fileCaptions[i],
                                      fileButtonPlaces[i]);
}

void Form1::nameForAssistiveTools()
{
    Controls &c = controls_;
    // A box is known by the label beside it, which is also its buddy for
    // keyboard users. Buttons, the check box and labels are known by their
    // captions as they stand, so a caption that changes (開始 / 終了) is
    // read as it changes.
    c.portNumber->setAccessibleName(c.settingCaptions[5]->text());
    c.settingCaptions[5]->setBuddy(c.portNumber);
    for (int i = 0; i < 5; ++i) {
        c.lineSettings[i]->setAccessibleName(c.settingCaptions[i]->text());
        c.settingCaptions[i]->setBuddy(c.lineSettings[i]);
    }
    c.interval->setAccessibleName(c.intervalCaptions[0]->text());
    c.intervalCaptions[0]->setBuddy(c.interval);
    // The two boxes stand beside the buttons that send and receive them.
    c.sendText->setAccessibleName(QStringLiteral("送信テキスト"));
    c.receivedText->setAccessibleName(QStringLiteral("受信テキスト"));
    // A value keeps its text as its name, so that a reader announces the
    // figure; the caption in its row (not the caption of the same index)
    // labels it.
    for (QLabel *value : c.statisticsValues) {
        for (QLabel *caption : c.statisticsCaptions) {
            if (caption->y() == value->y())
                caption->setBuddy(value);
        }
    }
}

QString Form1::openFailedMessage()
{
    return QStringLiteral("ポートＮｏが違います");
}

QString Form1::sendRefusedMessage()
{
    return QStringLiteral("送信できませんでした：未送信のデータが多すぎます");
}

QString Form1::lostMessage(int portNumber)
{
    return QStringLiteral("ポート%1との接続が切れました").arg(portNumber);
}

void Form1::bindEngine()
{
    Controls &c = controls_;
    SerialPort &port = *services_.port;
    session_ = std::make_unique<PortSession>(port);
    check_ = std::make_unique<LoopbackCheck>(port, *services_.clock, *services_.probeTimer,
                                             *services_.pollTimer);
    // The send box is read afresh at every send and comparison.
    check_->setTextSource([box = c.sendText] { return Controls::boxText(box); });
    connect(c.sendText->document(), &QTextDocument::contentsChanged, check_.get(),
            &LoopbackCheck::textChanged);
    check_->setProbesEnabled(c.checkEnabled->isChecked());
    connect(c.checkEnabled, &QCheckBox::toggled, check_.get(), &LoopbackCheck::setProbesEnabled);

    connect(c.portButtons[Open], &QPushButton::clicked, this, &Form1::openPort);
    connect(c.portButtons[Send], &QPushButton::clicked, check_.get(), &LoopbackCheck::sendOnce);
    connect(c.portButtons[Receive], &QPushButton::clicked, check_.get(),
            &LoopbackCheck::receiveOnce);
    connect(c.portButtons[Close], &QPushButton::clicked, session_.get(), &PortSession::close);
    connect(c.startButton, &QPushButton::clicked, this,
            [this] { check_->startStop(NumberText::toInt32(controls_.interval->text())); });

    connect(session_.get(), &PortSession::opened, this, [this] {
        showOpenButtons(true);
        check_->portOpened();
    });
    connect(session_.get(), &PortSession::closed, this, [this] { showOpenButtons(false); });
    // The port has already closed itself; the window follows, and says so
    // once, after what the receive box holds: nothing received is lost to
    // the message. The check and its timers are left as a close leaves them.
    connect(session_.get(), &PortSession::lost, this, [this](int number) {
        showOpenButtons(false);
        Controls::appendBoxLine(controls_.receivedText, lostMessage(number));
    });

    connect(check_.get(), &LoopbackCheck::runningChanged, this, [this](bool running) {
        controls_.startButton->setText(running ? QStringLiteral("終了") : QStringLiteral("開始"));
    });
    connect(check_.get(), &LoopbackCheck::replyShown, this,
            [this](const QString &text) { Controls::setBoxText(controls_.receivedText, text); });
    connect(check_.get(), &LoopbackCheck::statisticsChanged, this, &Form1::showStatistics);
    // Said after what the receive box holds; a held line refusing probe
    // after probe says so once.
    connect(check_.get(), &LoopbackCheck::sendRefused, this, [this](bool byTimer) {
        QPlainTextEdit *box = controls_.receivedText;
        if (byTimer && box->document()->lastBlock().text() == sendRefusedMessage())
            return;
        Controls::appendBoxLine(box, sendRefusedMessage());
    });
    // An error is shown as it is counted: a check stuck on a stray byte
    // completes no exchange that would show it.
    connect(check_.get(), &LoopbackCheck::errorCounted, this, &Form1::showErrors);
    // So is a probe given up after the reply timeout: the window has no
    // figure of its own for it.
    connect(check_.get(), &LoopbackCheck::exchangeCompleted, this,
            [this](const Exchange &exchange) {
                if (exchange.outcome != Exchange::Outcome::Ok)
                    showErrors(check_->statistics());
            });
}

QString Form1::chartActionText()
{
    return QStringLiteral("応答時間グラフ...");
}

QString Form1::saveRecordActionText()
{
    return QStringLiteral("記録を保存...");
}

QString Form1::preciseActionText()
{
    return QStringLiteral("受信した時点で計る");
}

QString Form1::replyTimeoutActionText()
{
    return QStringLiteral("応答待ち時間...");
}

void Form1::bindRecord()
{
    record_ = std::make_unique<ExchangeRecord>();
    if (services_.fileDialog)
        recordCommands_ = std::make_unique<RecordCommands>(*record_, *services_.fileDialog);
    // Kept from the first exchange on, so that a chart opened late shows the
    // whole run; the chart itself works only while it is shown.
    auto changed = [this] {
        if (chart_)
            chart_->recordChanged();
    };
    connect(check_.get(), &LoopbackCheck::runStarted, this, [this, changed] {
        record_->reset();
        changed();
    });
    auto add = [this, changed](const Exchange &exchange) {
        record_->add(exchange);
        changed();
    };
    connect(check_.get(), &LoopbackCheck::exchangeCompleted, this, add);
    // Every error the window counts is in the record, marked on the chart
    // when it was counted and a row of the saved log.
    connect(check_.get(), &LoopbackCheck::errorPolled, this, add);

    auto *chartAction = new QAction(chartActionText(), this);
    chartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(chartAction, &QAction::triggered, this, &Form1::showChart);
    auto *saveAction = new QAction(saveRecordActionText(), this);
    saveAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(saveAction, &QAction::triggered, this, &Form1::saveRecord);
    // The check's settings, below them in the same menu.
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    preciseAction_ = new QAction(preciseActionText(), this);
    preciseAction_->setCheckable(true);
    connect(preciseAction_, &QAction::triggered, this, &Form1::setPrecise);
    auto *timeoutAction = new QAction(replyTimeoutActionText(), this);
    connect(timeoutAction, &QAction::triggered, this, &Form1::askReplyTimeout);
    // The shortcuts work anywhere in the window; the menu opens on the
    // statistics' values.
    addActions({chartAction, saveAction});
    for (QLabel *value : controls_.statisticsValues) {
        value->addActions({chartAction, saveAction, separator, preciseAction_, timeoutAction});
        value->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

void Form1::setPrecise(bool precise)
{
    checkSettings_.precise = precise;
    checkSettings_.write();
    applyCheckSettings();
}

void Form1::setReplyTimeout(std::optional<std::chrono::milliseconds> timeout)
{
    if (timeout && timeout->count() <= 0)
        timeout.reset();
    checkSettings_.replyTimeout = timeout;
    checkSettings_.write();
    applyCheckSettings();
}

void Form1::askReplyTimeout()
{
    constexpr int kMostMs = std::numeric_limits<int>::max();
    const auto now = checkSettings_.replyTimeout.value_or(std::chrono::milliseconds(0)).count();
    bool ok = false;
    const int ms = QInputDialog::getInt(this, QStringLiteral("応答待ち時間"),
                                        QStringLiteral("応答待ち時間（msec、0：制限なし）"),
                                        int(std::min<qint64>(now, kMostMs)), 0, kMostMs, 100, &ok);
    if (ok)
        setReplyTimeout(std::chrono::milliseconds(ms));
}

void Form1::applyCheckSettings()
{
    check_->setPrecise(checkSettings_.precise);
    check_->setReplyTimeout(checkSettings_.replyTimeout);
    preciseAction_->setChecked(checkSettings_.precise);
    // The chart shows lost replies only where a reply timeout is set.
    if (chart_)
        chart_->checkChanged();
}

void Form1::showChart()
{
    if (!chart_) {
        chart_ = new ChartWindow(*record_, *check_, this);
        // Saving works from the chart window too.
        for (QAction *action : actions())
            chart_->addAction(action);
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
}

void Form1::saveRecord()
{
    if (recordCommands_)
        recordCommands_->save();
}

void Form1::openPort()
{
    // The settings text is baud, parity, data bits, stop bits: not the order
    // of the boxes on the window, where data bits stand above parity.
    enum Box { Baud = 0, DataBits = 1, Parity = 2, StopBits = 3, Handshaking = 4 };
    const Controls &c = controls_;
    const std::optional<qint16> number = NumberText::toInt16(c.portNumber->text());
    const QString settings =
        QStringList{c.lineSettings[Baud]->currentText(), c.lineSettings[Parity]->currentText(),
                    c.lineSettings[DataBits]->currentText(),
                    c.lineSettings[StopBits]->currentText()}
            .join(u',');
    if (!number ||
        !session_->open(*number, settings, Controls::listIndex(c.lineSettings[Handshaking])))
        Controls::setBoxText(c.receivedText, openFailedMessage());
}

void Form1::showOpenButtons(bool portOpen)
{
    controls_.portButtons[Open]->setEnabled(!portOpen);
    controls_.portButtons[Send]->setEnabled(portOpen);
    controls_.portButtons[Receive]->setEnabled(portOpen);
    controls_.portButtons[Close]->setEnabled(portOpen);
}

void Form1::showStatistics(const Statistics &stats)
{
    // Times in ms, each rounded to single precision before it becomes text.
    for (int i = Statistics::LastTime; i <= Statistics::MinTime; ++i)
        controls_.statisticsValues[i]->setText(
            NumberText::fromSingle(static_cast<float>(double(stats.values[i]) * 1000.0)));
    controls_.statisticsValues[Statistics::Count]->setText(
        NumberText::fromSingle(stats[Statistics::Count]));
    showErrors(stats);
}

void Form1::showErrors(const Statistics &stats)
{
    // The errors the polls found and the probes given up with nothing, or
    // only a beginning of the text, come back.
    controls_.statisticsValues[Statistics::Errors]->setText(NumberText::fromSingle(
        static_cast<float>(double(stats[Statistics::Errors]) + double(stats.lost))));
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == controls_.portNumber && event->type() == QEvent::ToolTip)
        controls_.portNumber->setToolTip(
            PortHints::text(PortSurvey::take(), PortLocator::portFolder()));
    return QWidget::eventFilter(watched, event);
}

void Form1::setTabOrder()
{
    const Controls &c = controls_;
    // Tab indexes of the focusable controls; labels take none.
    std::vector<std::pair<int, QWidget *>> order = {
        {4, c.portButtons[0]},   {5, c.portButtons[1]},   {6, c.portButtons[2]},
        {7, c.portButtons[3]},   {8, c.sendText},         {11, c.portNumber},
        {13, c.receivedText},    {14, c.lineSettings[0]}, {15, c.lineSettings[1]},
        {16, c.lineSettings[2]}, {17, c.lineSettings[3]}, {18, c.lineSettings[4]},
        {19, c.checkEnabled},    {21, c.interval},        {23, c.startButton},
        {36, c.fileButtons[0]},  {37, c.fileButtons[1]},
    };
    std::sort(order.begin(), order.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
}

void Form1::load()
{
    Controls &c = controls_;
    c.lineSettings[0]->addItems({QStringLiteral("19200"), QStringLiteral("9600"),
                                 QStringLiteral("4800"), QStringLiteral("2400"),
                                 QStringLiteral("1200")});
    c.lineSettings[1]->addItems({QStringLiteral("8"), QStringLiteral("7")});
    c.lineSettings[2]->addItems({QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O")});
    c.lineSettings[3]->addItems({QStringLiteral("1"), QStringLiteral("2")});
    // An item's position is the handshaking code given to the port.
    c.lineSettings[4]->addItems({QStringLiteral("なし"), QStringLiteral("XOn/XOff"),
                                 QStringLiteral("RTS/CTS"), QStringLiteral("RTS/CTS + XOn/XOff")});

    c.portNumber->setText(QStringLiteral("1"));

    const std::array<QString, 4> defaults = {QStringLiteral("9600"), QStringLiteral("8"),
                                             QStringLiteral("N"), QStringLiteral("1")};
    for (int i = 0; i < 4; ++i) {
        // Select the item too, so that the list opens on it.
        c.lineSettings[i]->setCurrentIndex(c.lineSettings[i]->findText(defaults[i]));
        c.lineSettings[i]->setCurrentText(defaults[i]);
    }
    c.lineSettings[4]->setCurrentIndex(1);

    c.portButtons[1]->setEnabled(false);
    c.portButtons[2]->setEnabled(false);
    c.portButtons[3]->setEnabled(false);

    c.interval->setText(QString::number(1000));

    checkSettings_ = CheckSettings::read();
    applyCheckSettings();
}
