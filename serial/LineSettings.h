#pragma once

#include <QString>

#include <optional>

// The line parameters of a settings text such as "9600,N,8,1": baud rate,
// parity, data bits, stop bits, in that order.
struct LineSettings {
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600; // any positive rate, custom rates included
    char parity = 'N';      // N, E, O, M (mark) or S (space)
    int dataBits = 8;       // 5 to 8
    StopBits stopBits = StopBits::One;

    // Parses "baud,parity,databits,stopbits". Fields may have spaces around
    // them; parity is accepted in either case; stop bits are 1, 1.5 or 2.
    // Returns nothing for any other text.
    static std::optional<LineSettings> parse(const QString &text);

    // The canonical text, e.g. "9600,N,8,1".
    QString toString() const;

    // The bits one character takes on the line: the start bit, the data
    // bits, the parity bit if any, the stop bits. 10 for "9600,N,8,1".
    double bitsPerCharacter() const;

    bool operator==(const LineSettings &) const = default;
};
