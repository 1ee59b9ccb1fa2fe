#include "LinePort.h"

#include "PortLocator.h"

LinePort::LinePort(QObject *parent) : SerialPort(parent)
{
    // A loss or an arrival reported by the kind not in use (a stale report
    // from before the last open) is the inner port's to ignore; each reports
    // only for its own open.
    for (SerialPort *kind :
         {static_cast<SerialPort *>(&local_), static_cast<SerialPort *>(&network_)}) {
        connect(kind, &SerialPort::lost, this, &SerialPort::lost);
        connect(kind, &SerialPort::readyRead, this, &SerialPort::readyRead);
    }
}

LinePort::~LinePort() = default;

bool LinePort::open()
{
    if (active_->isOpen())
        return active_->open(); // fails, saying so
    // The number's entry is looked at here and again by the serial port's
    // own open; an entry changed in between makes that open fail as for a
    // device that is not there, never open the wrong kind.
    const QString name = name_.isEmpty() ? PortLocator::deviceFor(number_) : name_;
    if (NetworkPort::looksLikeAddress(name)) {
        network_.setCommPort(number_);
        network_.setDevice(name);
        active_ = &network_;
    } else {
        local_.setCommPort(number_);
        local_.setDevice(name_);
        active_ = &local_;
    }
    active_->setSettings(line_);
    return active_->open();
}
