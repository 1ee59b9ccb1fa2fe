#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Turns the requests to stop that come from outside (Ctrl+C, SIGTERM from a
// service manager or `kill`, the hangup of a terminal that went away, such as
// a dropped SSH session) into a signal on the event loop, where the run can
// end in order: the handler itself only writes a byte to a pipe, which is all
// a signal handler may safely do. A request the shell asked the program to
// ignore (nohup, a background job of a script) stays ignored.
//
// While it exists, output to a reader that has gone fails instead of killing
// the program (SIGPIPE), and nothing the program does on its terminal from
// the background stops it (SIGTTOU). One at a time in a program.
class StopSignals : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        // The first request becomes stopRequested(); a Ctrl+C or SIGTERM after
        // it ends the program at once, as a user who asks again means, and
        // even where the program could not hear the first. A hangup after it
        // adds nothing: one terminal going away can send several.
        InOrder,
        // Every request ends the program at once, by the system's default
        // action: for a command that waits outside the event loop, where a
        // request would go unheard until the wait is over.
        AtOnce,
    };

    explicit StopSignals(Mode mode = Mode::InOrder, QObject *parent = nullptr);
    ~StopSignals() override;

    // False when the handlers could not be installed (errorString() says why).
    bool isValid() const;
    QString errorString() const;

signals:
    // `name` is the signal's name, e.g. "SIGINT". Once only.
    void stopRequested(const QString &name);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
