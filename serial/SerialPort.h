#pragma once

#include "LineSettings.h"

#include <QObject>
#include <QString>

#include <chrono>

// The serial line as the window uses it: select a port by number, give it
// its line settings, open it, write text, read everything received so far,
// close it. Text crosses the line as code page 932 bytes.
//
// A port that fails while open (a USB adapter pulled out) is closed by the
// port itself at the first error, which it reports once through lost().
class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override;

    // The port number; which numbers name a device is decided on open.
    virtual void setCommPort(int number) = 0;
    virtual int commPort() const = 0;
    // Names the device itself (a path such as /dev/ttyUSB0, or COM3), which
    // then takes the place of the port number; an empty path goes back to
    // the number.
    virtual void setDevice(const QString &path) = 0;

    // The settings the next open() sets the device to (by default 9600,N,8,1
    // without flow control); an open port keeps those it was opened with.
    virtual void setSettings(const LineSettings &line) = 0;
    virtual LineSettings settings() const = 0;

    // Opens the port with the current number and settings.
    // Fails when the number names no device, the device is missing or in use,
    // or the device did not take every setting. Opening an open port fails.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // What became of a text given to output().
    enum class Output {
        Taken,   // handed to the system, or waiting in the port to follow in order
        Refused, // more would wait unsent than the port keeps: nothing of it taken
        Closed,  // the port is not open: nothing sent
    };
    Q_ENUM(Output)

    // Sends the text as code page 932 bytes without waiting for the line:
    // what the system takes at once leaves before this returns, and the rest
    // follows in order from the event loop as the line frees up. A text that
    // would make the bytes waiting unsent more than the port keeps (a far end
    // that reads nothing, flow control holding the line) is refused whole.
    virtual Output output(const QString &text) = 0;

    // Waits, for at most `limit`, until every byte given to output() has left:
    // the port's own buffer handed to the system and the system's output
    // queue empty. Returns 0 when all left; when `limit` passes first, how
    // many bytes had not left, which close() then drops (none goes out
    // later); -1 when the port is closed or was lost meanwhile (errorString()
    // then says why). Blocks the caller, event loop included.
    virtual qint64 drain(std::chrono::milliseconds limit) = 0;

    // Everything received since the last read, decoded; empty when nothing
    // came or the port is closed. A lead byte that ends the received bytes is
    // held back until its trail byte arrives.
    virtual QString input() = 0;
    // The same, escaped as received text is shown ("OK[13][10]").
    virtual QString escapedInput();

    // Why the last open failed, or why the port was lost (for diagnostics).
    virtual QString errorString() const = 0;
    // What the user should know about the last successful open (a setting
    // taken without the device's word, settings not applied at all); empty
    // when the port is what was asked for.
    virtual QString note() const { return {}; }

signals:
    // The open port failed and has been closed. Emitted once per loss.
    void lost(const QString &reason);
    // Bytes arrived; they wait for the next input().
    void readyRead();
};
