#include "PortControl.h"

#include "Controls.h"
#include "NumberText.h"
#include "PlmMod1.h"
#include "SerialPort.h"
#include "WindowState.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

#include <utility>

namespace {

// The settings text is baud, parity, data bits, stop bits: not the order of
// the boxes on the window, where data bits stand above parity.
constexpr int kBaudBox = 0;
constexpr int kDataBitsBox = 1;
constexpr int kParityBox = 2;
constexpr int kStopBitsBox = 3;
constexpr int kHandshakingBox = 4;

} // namespace

PortControl::PortControl(Controls &controls, WindowState &state, SerialPort &port, QObject *parent)
    : QObject(parent), controls_(controls), state_(state), port_(port)
{
    connect(&port_, &SerialPort::lost, this, &PortControl::onLost);
}

QString PortControl::openFailedMessage()
{
    return QStringLiteral("ポートＮｏが違います");
}

QString PortControl::lostMessage(int portNumber)
{
    return QStringLiteral("ポート%1との接続が切れました").arg(portNumber);
}

QString PortControl::sendRefusedMessage()
{
    return QStringLiteral("送信できませんでした：未送信のデータが多すぎます");
}

void PortControl::showSendRefused(QPlainTextEdit *receiveBox, bool once)
{
    if (once && receiveBox->document()->lastBlock().text() == sendRefusedMessage())
        return;
    Controls::appendBoxLine(receiveBox, sendRefusedMessage());
}

void PortControl::click(int index)
{
    switch (index) {
    case Open:
        if (!open())
            Controls::setBoxText(controls_.Text3, openFailedMessage());
        break;
    case Send:
        send();
        break;
    case Receive:
        receive();
        break;
    case Close:
        close();
        break;
    default:
        break;
    }
}

bool PortControl::open()
{
    const std::optional<qint16> number = NumberText::toInt16(controls_.Text1_5->text());
    if (!number)
        return false;
    port_.setCommPort(*number);

    const QString settings = QStringList{controls_.Combo1[kBaudBox]->currentText(),
                                         controls_.Combo1[kParityBox]->currentText(),
                                         controls_.Combo1[kDataBitsBox]->currentText(),
                                         controls_.Combo1[kStopBitsBox]->currentText()}
                                 .join(u',');
    if (!port_.setSettings(settings))
        return false;

    if (!port_.setHandshaking(Controls::listIndex(controls_.Combo1[kHandshakingBox])))
        return false;

    if (!port_.open())
        return false;

    showOpenButtons(true);
    state_.Mode = 0;
    return true;
}

void PortControl::send()
{
    const SerialPort::Output sent =
        port_.output(PlmMod1::UnescapeCodes(Controls::boxText(controls_.Text2)));
    if (sent == SerialPort::Output::Refused) {
        // Nothing went out, so nothing starts: the figures and the mode stay.
        showSendRefused(controls_.Text3);
        return;
    }
    state_.resetStats();
    state_.Mode = 1;
}

void PortControl::receive()
{
    QString received = PlmMod1::EscapeCodes(port_.input());
    state_.Mode = 2;
    if (!port_.isOpen()) {
        // The port was lost during this very read: keep the word of it in
        // view, after whatever the read still brought.
        const QString lost = lostMessage(port_.commPort());
        Controls::setBoxText(controls_.Text3,
                             received.isEmpty() ? lost : received + QStringLiteral("\r\n") + lost);
        return;
    }
    Controls::setBoxText(controls_.Text3, std::move(received));
}

void PortControl::close()
{
    port_.close();
    showOpenButtons(false);
}

void PortControl::onLost()
{
    // The port has already closed itself; the window follows, and says so
    // once. Mode and the timers are left as a close leaves them.
    showOpenButtons(false);
    Controls::setBoxText(controls_.Text3, lostMessage(port_.commPort()));
}

void PortControl::showOpenButtons(bool portOpen)
{
    controls_.Command1[Open]->setEnabled(!portOpen);
    controls_.Command1[Send]->setEnabled(portOpen);
    controls_.Command1[Receive]->setEnabled(portOpen);
    controls_.Command1[Close]->setEnabled(portOpen);
}
