#include "FeedbackCheck.h"

#include "Clock.h"
#include "Controls.h"
#include "NumberText.h"
#include "PlmMod1.h"
#include "PortControl.h"
#include "SerialPort.h"
#include "Timer.h"
#include "WindowState.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kStartCaption = QStringLiteral("開始");
const QString kStopCaption = QStringLiteral("終了");

// Values are computed in double and stored in single precision.
float single(double value)
{
    return static_cast<float>(value);
}

} // namespace

FeedbackCheck::FeedbackCheck(Controls &controls, WindowState &state, SerialPort &port,
                             const Clock &clock, Timer &probeTimer, Timer &pollTimer,
                             QObject *parent)
    : QObject(parent), controls_(controls), state_(state), port_(port), clock_(clock),
      probeTimer_(probeTimer), pollTimer_(pollTimer)
{}

QString FeedbackCheck::expectedText() const
{
    // Compared in the escaped form the received text takes, so that a text
    // typed with leading zeros, codes of printable characters, double-byte
    // characters or line breaks matches its own echo.
    return PlmMod1::EscapeCodes(PlmMod1::UnescapeCodes(Controls::boxText(controls_.Text2)));
}

void FeedbackCheck::click()
{
    if (state_.Mode == 1)
        startOrStop();
    else if (state_.Mode == 2)
        pollTimer_.setInterval(static_cast<int>(kPollInterval.count()));
}

void FeedbackCheck::startOrStop()
{
    if (state_.Running == 0) {
        const std::optional<qint32> interval = NumberText::toInt32(controls_.Text4->text());
        if (!interval || *interval < 0)
            return;
        probeTimer_.setInterval(*interval);
        controls_.Command2->setText(kStopCaption);
        state_.Running = 1;
    } else {
        controls_.Command2->setText(kStartCaption);
        state_.Running = 0;
        probeTimer_.setInterval(0);
        stopChecking();
    }
}

void FeedbackCheck::stopChecking()
{
    // A probe whose poller is gone can never be matched: forget it, or the
    // next start would show a running check that never sends.
    pollTimer_.setInterval(0);
    state_.Waiting = 0;
}

void FeedbackCheck::probe()
{
    if (!controls_.Check1->isChecked())
        return;
    if (!port_.isOpen()) {
        stopChecking();
        return;
    }
    if (state_.Mode != 1 || state_.Waiting != 0)
        return;
    if (port_.output(PlmMod1::UnescapeCodes(Controls::boxText(controls_.Text2))) ==
        SerialPort::Output::Refused) {
        // Nothing went out: no probe is outstanding, and the next tick tries again.
        PortControl::showSendRefused(controls_.Text3, true);
        return;
    }
    state_.SendTime = clock_.now();
    state_.Waiting = 1;
    pollTimer_.setInterval(static_cast<int>(kPollInterval.count()));
    emit probeSent();
}

void FeedbackCheck::poll()
{
    // Pending clicks and ticks run first; a tick of this timer arriving
    // meanwhile is dropped, so two polls never interleave.
    if (polling_)
        return;
    polling_ = true;
    QCoreApplication::processEvents();
    polling_ = false;

    // Everything below reads the state afresh: the events above may have
    // changed the mode, the send box or the port.
    if (!port_.isOpen())
        return;
    if (state_.Mode == 1 && state_.Waiting == 1)
        pollFeedback();
    else if (state_.Mode == 2)
        pollEcho();
}

QString FeedbackCheck::readEscaped()
{
    const QString rx = PlmMod1::EscapeCodes(port_.input());
    // Only the buffer's first characters are ever compared, and a text at
    // least as long as the cap is never expected, so what lies beyond the cap
    // cannot change an outcome: drop it instead of growing without end.
    const qsizetype room = kRxBufferCap - state_.RxBuffer.size();
    state_.RxBuffer +=
        room >= rx.size() ? QStringView(rx) : QStringView(rx).left(std::max<qsizetype>(room, 0));
    return rx;
}

void FeedbackCheck::pollFeedback()
{
    const QString rx = readEscaped();
    const QString expected = expectedText();
    const qsizetype n = expected.size();
    if (state_.RxBuffer.size() >= n && QStringView(state_.RxBuffer).left(n) == expected) {
        recordExchange(rx);
    } else if (n < state_.RxBuffer.size()) {
        // More came back than was sent, and it does not begin with the text.
        state_.Stats[WindowState::Errors] = single(double(state_.Stats[WindowState::Errors]) + 1);
    }
}

void FeedbackCheck::recordExchange(const QString &lastRead)
{
    auto &stats = state_.Stats;
    const std::chrono::duration<double> elapsed = clock_.now() - state_.SendTime;
    stats[WindowState::LastTime] = single(elapsed.count());
    stats[WindowState::TotalTime] =
        single(double(stats[WindowState::TotalTime]) + double(stats[WindowState::LastTime]));
    if (stats[WindowState::LastTime] > stats[WindowState::MaxTime])
        stats[WindowState::MaxTime] = stats[WindowState::LastTime];
    if (stats[WindowState::LastTime] < stats[WindowState::MinTime])
        stats[WindowState::MinTime] = stats[WindowState::LastTime];
    stats[WindowState::Count] = single(double(stats[WindowState::Count]) + 1);
    state_.Waiting = 0;
    Controls::setBoxText(controls_.Text3, lastRead);
    pollTimer_.setInterval(0);
    showStats();
    state_.RxBuffer.clear();
    emit exchangeCompleted();
}

void FeedbackCheck::showStats()
{
    const auto &stats = state_.Stats;
    for (int i = WindowState::LastTime; i <= WindowState::MinTime; ++i)
        controls_.Label4[i]->setText(NumberText::fromSingle(single(double(stats[i]) * 1000.0)));
    controls_.Label4[WindowState::Count]->setText(
        NumberText::fromSingle(stats[WindowState::Count]));
    controls_.Label4[WindowState::Errors]->setText(
        NumberText::fromSingle(stats[WindowState::Errors]));
}

void FeedbackCheck::pollEcho()
{
    const QString rx = readEscaped();
    const QString expected = expectedText();
    const qsizetype n = expected.size();
    if (state_.RxBuffer.size() >= n && QStringView(state_.RxBuffer).left(n) == expected) {
        Controls::setBoxText(controls_.Text3, rx);
        state_.RxBuffer.clear();
        if (port_.output(PlmMod1::UnescapeCodes(Controls::boxText(controls_.Text2))) ==
            SerialPort::Output::Refused)
            PortControl::showSendRefused(controls_.Text3, true);
    }
}
