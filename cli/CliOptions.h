#pragma once

#include "CheckVerdict.h"
#include "LineSettings.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

// What one run of commcheck-cli was asked to do, as read from its command
// line.
struct CliOptions {
    enum class Command { Check, Answer, Send, Receive, Monitor };
    // How check reports its end: the summary for people, one JSON object,
    // or one line for a monitoring system.
    enum class Format { Text, Json, Nagios };

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
    Format format = Format::Text;
    // --max-*, and --warn-* and --crit-* (nagios format only)
    CheckVerdict::Thresholds thresholds;
    // check and answer; empty for none
    QString logPath;
    // receive; none: until stopped
    std::optional<std::chrono::milliseconds> receiveFor;
    // check: a port lost or not opened is tried again (1 s, doubling to 60 s)
    // instead of ending the run
    bool reconnect = false;

    // monitor: the INI file naming the lines, and where /metrics is served
    // (the port 0: any free one)
    QString configPath;
    QString metricsHost = QStringLiteral("127.0.0.1");
    quint16 metricsPort = 9717;

    // The window's defaults: 9600,N,8,1 with XOn/XOff.
    LineSettings line{.flowControl = LineSettings::FlowControl::XonXoff};

    // The port as a number when it is written in digits only.
    std::optional<int> portNumber() const;
    static QString commandName(Command command);
};
