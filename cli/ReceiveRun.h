#pragma once

#include "CliRun.h"

#include <QByteArray>
#include <QTimer>

#include <chrono>
#include <cstdio>

struct CliOptions;
class PortSession;

// `commcheck-cli receive`: prints what arrives on an open port as it comes,
// control codes and double-byte characters in brackets as the window shows
// them, for a given time or until asked to stop; a line break at the end.
//
// The output never holds the event loop: what the output does not take at
// once waits here, and meanwhile what arrives waits in the port, as it would
// for any slow reader of a pipe. At the end what still waits goes out as
// long as the output keeps taking it (see Console::kStallLimit).
class ReceiveRun : public CliRun {
    Q_OBJECT
public:
    // How soon output that waits is offered again.
    static constexpr std::chrono::milliseconds kOutputRetry{10};

    ReceiveRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
               QObject *parent = nullptr);

    void start() override;
    // What already arrived is still printed; `why` is not, as receive prints
    // nothing but what came.
    void stop(const QString &why) override;

private:
    void printArrived();
    // Hands on what waits for the output, as far as it takes it now.
    void writeWaiting();
    void onPortLost() override;
    void printEnd() override;
    int exitCode() const override;

    QTimer forTimer_;
    QTimer outputRetry_;
    QByteArray waiting_; // taken from the port, not yet taken by the output
    bool printed_ = false;
    bool outputGone_ = false;
};
