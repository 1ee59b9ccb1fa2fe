#include "SendRun.h"

#include "BracketCodes.h"
#include "CliOptions.h"
#include "Console.h"
#include "Cp932.h"
#include "DurationText.h"
#include "ExitCode.h"
#include "PortSession.h"
#include "SerialPort.h"

#include <cmath>

namespace {

// How long send waits for `bytes` to leave before it gives up: their time on
// the line at its speed and framing, half as long again for a line that is
// slower than it says, and 2 s for the system and the far end to get going.
std::chrono::milliseconds sendLimit(qint64 bytes, const LineSettings &line)
{
    const double lineMs = double(bytes) * line.bitsPerCharacter() * 1000.0 / line.baudRate;
    return std::chrono::milliseconds(qint64(std::ceil(1.5 * lineMs)) + 2000);
}

} // namespace

SendRun::SendRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
                 QObject *parent)
    : CliRun(options, session, out, err, parent)
{}

void SendRun::start()
{
    SerialPort &port = session_.port();
    const QString text = BracketCodes::UnescapeCodes(options_.text);
    taken_ = port.output(text) == SerialPort::Output::Taken;
    if (taken_) {
        // Closing the port drops whatever has not left yet, so the run ends
        // only once the line has taken every byte, or has been given its time.
        size_ = Cp932::encodedSize(text);
        limit_ = sendLimit(size_, options_.line);
        unsent_ = port.drain(limit_);
        if (unsent_ < 0)
            notePortLost(port.errorString());
    }
    endSoon();
}

void SendRun::onPortLost()
{
    // The wait in start() finds a loss itself; one reported from the event
    // loop comes after the run has ended.
    endSoon();
}

void SendRun::printEnd()
{
    if (!taken_) {
        Console::write(err_, QStringLiteral("commcheck-cli: the port did not take the text\n"));
    } else if (portLost()) {
        reportPortLoss();
    } else if (unsent_ > 0) {
        Console::write(err_, QStringLiteral("commcheck-cli: %1 of %2 bytes were not sent: the line "
                                            "did not take them within %3\n")
                                 .arg(unsent_)
                                 .arg(size_)
                                 .arg(DurationText::format(limit_)));
    }
}

int SendRun::exitCode() const
{
    return taken_ && unsent_ == 0 ? ExitOk : ExitFaults;
}
