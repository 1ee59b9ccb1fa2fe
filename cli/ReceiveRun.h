#pragma once

#include "CliOptions.h"

#include <QObject>
#include <QTimer>

#include <cstdio>

class PortSession;

// `commcheck-cli receive`: prints what arrives on an open port as it comes,
// control codes and double-byte characters in brackets as the window shows
// them, for a given time or until asked to stop; a line break at the end.
class ReceiveRun : public QObject {
    Q_OBJECT
public:
    ReceiveRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
               QObject *parent = nullptr);

    void start();
    void stop();

signals:
    void finished(int exitCode);

private:
    void printArrived();
    void finish();

    const CliOptions &options_;
    PortSession &session_;
    std::FILE *out_;
    std::FILE *err_;
    QTimer forTimer_;
    bool printed_ = false;
    bool portLost_ = false;
    bool stopping_ = false;
};
