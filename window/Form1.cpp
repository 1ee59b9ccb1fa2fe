#include "Form1.h"

#include "CaptionButton.h"
#include "Clock.h"
#include "FeedbackCheck.h"
#include "FileCommands.h"
#include "LongLineBox.h"
#include "PortControl.h"
#include "PortHints.h"
#include "PortLocator.h"
#include "PortSurvey.h"
#include "SerialPort.h"
#include "Timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
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
    controls_.Text1_5->installEventFilter(this);

    portControl_ = std::make_unique<PortControl>(controls_, state_, *services_.MSComm1);
    for (int i = 0; i < static_cast<int>(controls_.Command1.size()); ++i)
        connect(controls_.Command1[i], &QPushButton::clicked, this,
                [this, i] { portControl_->click(i); });

    feedbackCheck_ =
        std::make_unique<FeedbackCheck>(controls_, state_, *services_.MSComm1, *services_.clock,
                                        *services_.Timer1, *services_.Timer2);
    connect(controls_.Command2, &QPushButton::clicked, this, [this] { feedbackCheck_->click(); });
    connect(services_.Timer1.get(), &Timer::timeout, this, [this] { feedbackCheck_->probe(); });
    connect(services_.Timer2.get(), &Timer::timeout, this, [this] { feedbackCheck_->poll(); });

    if (services_.CommonDialog1) {
        fileCommands_ = std::make_unique<FileCommands>(controls_, *services_.CommonDialog1);
        for (int i = 0; i < static_cast<int>(controls_.Command3.size()); ++i)
            connect(controls_.Command3[i], &QPushButton::clicked, this,
                    [this, i] { fileCommands_->click(i); });
    }
}

Form1::~Form1() = default;

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
        c.Label1[i] = makeLabel(this, QStringLiteral("Label1_%1").arg(i), settingCaptions[i],
                                settingLabels[i], pg, bold);

    c.Text1_5 = make<QLineEdit>(this, QStringLiteral("Text1_5"), {1050, 90, 405, 255});

    const std::array<Twips, 5> combos = {{{1050, 360, 945, 300},
                                          {1050, 660, 945, 300},
                                          {1050, 990, 945, 300},
                                          {1050, 1320, 945, 300},
                                          {1050, 1620, 1875, 300}}};
    for (int i = 0; i < 5; ++i)
        c.Combo1[i] = makeCombo(this, i, combos[i]);

    const std::array<QString, 4> portCaptions = {QStringLiteral("オープン"), QStringLiteral("送信"),
                                                 QStringLiteral("受信"),
                                                 QStringLiteral("クローズ")};
    const std::array<Twips, 4> portButtons = {
        {{90, 2010, 945, 345}, {30, 2610, 945, 345}, {30, 4050, 945, 345}, {1080, 2010, 945, 345}}};
    for (int i = 0; i < 4; ++i)
        c.Command1[i] =
            makeButton(this, QStringLiteral("Command1_%1").arg(i), portCaptions[i], portButtons[i]);

    c.Label2_4 = makeLabel(this, QStringLiteral("Label2_4"),
                           QStringLiteral("文字コードは[ ]で囲ってください。改行コード１３＝[13]"),
                           {1080, 2370, 4185, 165}, !pg);

    c.Text2 = makeBox(this, QStringLiteral("Text2"), {1050, 2580, 4215, 705});
    c.Text2->setFont(pgFont(!bold));
    c.Text3 = makeBox(this, QStringLiteral("Text3"), {1050, 3300, 4215, 2235});

    // Right-hand column, from 5400 twips on: outside the client area at
    // start, in view once the window is widened.
    c.Check1 = make<QCheckBox>(this, QStringLiteral("Check1"), {5430, 90, 2445, 285});
    c.Check1->setText(QStringLiteral("通信フィードバックチェック"));
    c.Check1->setFont(pgFont(!bold));

    c.Label3[0] = makeLabel(this, QStringLiteral("Label3_0"), QStringLiteral("インターバル"),
                            {5400, 420, 1095, 255}, pg);
    c.Text4 = make<QLineEdit>(this, QStringLiteral("Text4"), {6540, 390, 915, 315});
    c.Label3[1] = makeLabel(this, QStringLiteral("Label3_1"), QStringLiteral("msec"),
                            {7500, 480, 435, 225}, pg);

    c.Command2 =
        makeButton(this, QStringLiteral("Command2"), QStringLiteral("開始"), {5400, 720, 705, 375});

    // The statistics rows. Caption labels are not in slot order on the window:
    // slot i's caption and value share row kRowOfSlot[i].
    const std::array<QString, 6> statCaptions = {
        QStringLiteral("時間"), QStringLiteral("累計"), QStringLiteral("カウント"),
        QStringLiteral("最大"), QStringLiteral("最小"), QStringLiteral("エラー")};
    const std::array<int, 6> captionTops = {1200, 1500, 2400, 1800, 2100, 2700}; // Label5(i)
    const std::array<int, 6> valueTops = {1200, 1500, 1800, 2100, 2400, 2700};   // Label4(i)
    for (int i = 0; i < 6; ++i) {
        c.Label5[i] = makeLabel(this, QStringLiteral("Label5_%1").arg(i), statCaptions[i],
                                {5670, captionTops[i], 705, 255}, pg);
        c.Label4[i] = makeLabel(this, QStringLiteral("Label4_%1").arg(i), QStringLiteral("Label4"),
                                {6420, valueTops[i], 1485, 255}, pg);
        c.Label4[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        c.Label4[i]->setLineWidth(1);
        // Its size fixed, a value label taking a new value after every
        // exchange does not have the window look at its layout again.
        c.Label4[i]->setFixedSize(c.Label4[i]->size());
    }

    const std::array<QString, 2> fileCaptions = {QStringLiteral("ファイル読み"),
                                                 QStringLiteral("ファイル書き")};
    const std::array<Twips, 2> fileButtons = {{{5700, 3030, 795, 405}, {6540, 3030, 795, 405}}};
    for (int i = 0; i < 2; ++i)
        c.Command3[i] =
            makeButton(this, QStringLiteral("Command3_%1").arg(i), fileCaptions[i], fileButtons[i]);
}

void Form1::nameForAssistiveTools()
{
    Controls &c = controls_;
    // Buttons, the check box and labels are known by their captions; a box
    // by the label beside it, which is also its buddy for keyboard users.
    c.Text1_5->setAccessibleName(c.Label1[5]->text());
    c.Label1[5]->setBuddy(c.Text1_5);
    for (int i = 0; i < 5; ++i) {
        c.Combo1[i]->setAccessibleName(c.Label1[i]->text());
        c.Label1[i]->setBuddy(c.Combo1[i]);
    }
    c.Text4->setAccessibleName(c.Label3[0]->text());
    c.Label3[0]->setBuddy(c.Text4);
    // The two boxes stand beside the buttons that send and receive them.
    c.Text2->setAccessibleName(QStringLiteral("送信テキスト"));
    c.Text3->setAccessibleName(QStringLiteral("受信テキスト"));
    // A value is named by the caption in its row, which is not the caption
    // of the same index.
    for (QLabel *value : c.Label4) {
        for (QLabel *caption : c.Label5) {
            if (caption->y() == value->y())
                value->setAccessibleName(caption->text());
        }
    }
    for (QPushButton *button : c.Command1)
        button->setAccessibleName(button->text());
    for (QPushButton *button : c.Command3)
        button->setAccessibleName(button->text());
    c.Check1->setAccessibleName(c.Check1->text());
    // The start button's caption changes with the check; its name does not.
    c.Command2->setAccessibleName(QStringLiteral("開始/終了"));
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == controls_.Text1_5 && event->type() == QEvent::ToolTip)
        controls_.Text1_5->setToolTip(
            PortHints::text(PortSurvey::take(), PortLocator::portFolder()));
    return QWidget::eventFilter(watched, event);
}

void Form1::setTabOrder()
{
    const Controls &c = controls_;
    // Tab indexes of the focusable controls; labels take none.
    std::vector<std::pair<int, QWidget *>> order = {
        {4, c.Command1[0]},  {5, c.Command1[1]}, {6, c.Command1[2]}, {7, c.Command1[3]},
        {8, c.Text2},        {11, c.Text1_5},    {13, c.Text3},      {14, c.Combo1[0]},
        {15, c.Combo1[1]},   {16, c.Combo1[2]},  {17, c.Combo1[3]},  {18, c.Combo1[4]},
        {19, c.Check1},      {21, c.Text4},      {23, c.Command2},   {36, c.Command3[0]},
        {37, c.Command3[1]},
    };
    std::sort(order.begin(), order.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
}

void Form1::load()
{
    Controls &c = controls_;
    c.Combo1[0]->addItems({QStringLiteral("19200"), QStringLiteral("9600"), QStringLiteral("4800"),
                           QStringLiteral("2400"), QStringLiteral("1200")});
    c.Combo1[1]->addItems({QStringLiteral("8"), QStringLiteral("7")});
    c.Combo1[2]->addItems({QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O")});
    c.Combo1[3]->addItems({QStringLiteral("1"), QStringLiteral("2")});
    // An item's position is the handshaking code given to the port.
    c.Combo1[4]->addItems({QStringLiteral("なし"), QStringLiteral("XOn/XOff"),
                           QStringLiteral("RTS/CTS"), QStringLiteral("RTS/CTS + XOn/XOff")});

    c.Text1_5->setText(QStringLiteral("1"));

    const std::array<QString, 4> defaults = {QStringLiteral("9600"), QStringLiteral("8"),
                                             QStringLiteral("N"), QStringLiteral("1")};
    for (int i = 0; i < 4; ++i) {
        // Select the item too, so that the list opens on it.
        c.Combo1[i]->setCurrentIndex(c.Combo1[i]->findText(defaults[i]));
        c.Combo1[i]->setCurrentText(defaults[i]);
    }
    c.Combo1[4]->setCurrentIndex(1);

    c.Command1[1]->setEnabled(false);
    c.Command1[2]->setEnabled(false);
    c.Command1[3]->setEnabled(false);

    c.Text4->setText(QString::number(1000));
}
