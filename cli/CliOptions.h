#pragma once

#include "LineSettings.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

// What one run of commcheck-cli was asked to do, as read from its command
// line.
struct CliOptions {
    enum class Command { Check, Answer, Send, Receive };

    Command command = Command::Check;
    // A port number (mapped to a device as the window maps it) or a device.
    QString port;
    // The text to send and expect back, escaped as typed ("ABC[13]").
    QString text;

    // check
    std::chrono::milliseconds interval{1000};
    std::optional<std::uint64_t> count;
    std::optional<std::chrono::milliseconds> duration;
    std::optional<std::chrono::milliseconds> timeout;
    bool precise = false;
    // check and answer; empty for none
    QString logPath;
    // receive; none: until stopped
    std::optional<std::chrono::milliseconds> receiveFor;

    // The window's defaults: 9600,N,8,1 with XOn/XOff.
    LineSettings line{.flowControl = LineSettings::FlowControl::XonXoff};

    // The port as a number when it is written in digits only.
    std::optional<int> portNumber() const;
    static QString commandName(Command command);
};
