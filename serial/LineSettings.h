#pragma once

#include <QString>

#include <optional>

// How a serial line is set up: baud rate, parity, data bits and stop bits,
// written as a settings text such as "9600,N,8,1" in that order, and the flow
// control, which the text leaves out.
struct LineSettings {
    enum class StopBits { One, OneAndHalf, Two };
    // In the order of the window's handshaking list and of --flow's words;
    // messages give the number of each as its handshaking code (0 to 3).
    enum class FlowControl { None, XonXoff, RtsCts, RtsCtsXonXoff };

    qint32 baudRate = 9600; // any positive rate, custom rates included
    char parity = 'N';      // N, E, O, M (mark) or S (space)
    int dataBits = 8;       // 5 to 8
    StopBits stopBits = StopBits::One;
    FlowControl flowControl = FlowControl::None;

    // Parses "baud,parity,databits,stopbits". Fields may have spaces around
    // them; parity is accepted in either case; stop bits are 1, 1.5 or 2.
    // Returns nothing for any other text. The flow control is None.
    static std::optional<LineSettings> parse(const QString &text);

    // The flow control of handshaking code `code`: flowControlFromCode(2) ==
    // FlowControl::RtsCts. Nothing for a number other than 0 to 3.
    static std::optional<FlowControl> flowControlFromCode(int code);

    // The canonical text, e.g. "9600,N,8,1", without the flow control.
    QString toString() const;

    // Which of the two flow controls are on: RTS/CTS, XON/XOFF or both.
    bool usesRtsCts() const;
    bool usesXonXoff() const;

    // The bits one character takes on the line: the start bit, the data
    // bits, the parity bit if any, the stop bits. 10 for "9600,N,8,1".
    double bitsPerCharacter() const;

    bool operator==(const LineSettings &) const = default;
};
