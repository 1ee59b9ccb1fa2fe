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
    state_.forgetReceived();
    return true;
}

void PortControl::send()
{
    port_.output(PlmMod1::UnescapeCodes(Controls::boxText(controls_.Text2)));
    state_.resetStats();
    state_.forgetReceived();
    state_.Mode = 1;
}

void PortControl::receive()
{
    // A port lost during this very read reports it once the read is shown,
    // after whatever the read still brought.
    Controls::setBoxText(controls_.Text3, PlmMod1::EscapeCodes(port_.input()));
    state_.forgetReceived();
    state_.Mode = 2;
}

void PortControl::close()
{
    port_.close();
    showOpenButtons(false);
}

void PortControl::onLost()
{
    // The port has already closed itself; the window follows, and says so
    // once, after what the receive box holds: nothing received is lost to
    // the message. Mode and the timers are left as a close leaves them.
    showOpenButtons(false);
    Controls::appendBoxLine(controls_.Text3, lostMessage(port_.commPort()));
}

void PortControl::showOpenButtons(bool portOpen)
{
    controls_.Command1[Open]->setEnabled(!portOpen);
    controls_.Command1[Send]->setEnabled(portOpen);
    controls_.Command1[Receive]->setEnabled(portOpen);
    controls_.Command1[Close]->setEnabled(portOpen);
}
