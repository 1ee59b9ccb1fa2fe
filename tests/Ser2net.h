#pragma once

#include <QProcess>
#include <QString>

// Debian's ser2net in front of one serial device, started on 127.0.0.1 on
// two free ports with its configuration on its command line: an RFC 2217
// accepter and a raw TCP one. Stopped with the object.
class Ser2net {
public:
    explicit Ser2net(const QString &device);
    ~Ser2net();
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    // Starts it and waits until both ports take connections; false, with the
    // reason in error(), when it could not be started.
    bool start();
    // Ends it at once, as a crash or a pulled network cable would.
    void kill();
    QString error() const { return error_; }

    QString rfc2217Address() const;
    QString socketAddress() const;
    quint16 rfc2217Port() const { return rfc2217Port_; }
    quint16 socketPort() const { return socketPort_; }

    static constexpr const char *kProgram = "/usr/sbin/ser2net";

private:
    bool tryStart();

    QString device_;
    QProcess process_;
    quint16 rfc2217Port_ = 0;
    quint16 socketPort_ = 0;
    QString error_;
};
