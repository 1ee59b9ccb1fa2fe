#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

// A pseudo-terminal pair standing in for a serial device: the program under
// test opens the slave by its path, the test plays the far end of the line on
// the master. The slave is put in raw mode at once so that nothing is echoed
// before the program opens it.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return master_ >= 0; }
    QString error() const { return error_; }
    QString slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Sends bytes from the far end (they arrive at the program's port),
    // running the event loop while the line is full; false when not all went
    // within `timeoutMs`.
    bool write(const QByteArray &bytes, int timeoutMs = 2000);

    // Reads what the program wrote, until `count` bytes have come or
    // `timeoutMs` has passed, running the Qt event loop meanwhile.
    QByteArray read(int count, int timeoutMs);

    // Reads whatever the program wrote within `timeoutMs` (event loop runs).
    QByteArray readFor(int timeoutMs);

    // Reads what the program wrote, like read(), but without running the
    // event loop: only bytes the program already handed to the system come.
    QByteArray readWithoutEventLoop(int count, int timeoutMs);

    // Waits, without running the event loop, until bytes sent with write()
    // have reached the slave side, where the program can read them.
    bool waitUntilDelivered(int timeoutMs) const;

    // Bytes on their way to the program's port: those that wait at the slave
    // side to be read, counted once any the kernel was still moving there
    // have arrived. 0 means the port has taken in everything sent so far.
    qsizetype pendingAtSlave() const;

    // Waits, without running the event loop, until the program's side of the
    // line takes no more output (flow control stopped it, or the line is
    // full), or until it takes output again.
    bool waitUntilHeld(int timeoutMs) const;
    bool waitUntilFree(int timeoutMs) const;

    // Fills the line from the program's side with `filler` bytes until it
    // takes no more, as a far end that stops reading leaves it; returns how
    // many bytes went in, -1 on failure. The far end then reads them before
    // what the program wrote after this.
    qsizetype fillLine(char filler);

    // Stops the program's side from sending, and lets it send again, as
    // CTS would a UART's transmitter: a pty has no modem lines, and its
    // output suspended (tcflow) is what comes nearest. Neither XON nor any
    // other byte from the far end restarts it.
    bool stopOutput();
    bool restartOutput();

    // The slave's current terminal settings, as the device holds them.
    struct termios slaveTermios() const;

    // The slave's output speed in baud as the kernel holds it, custom rates
    // included (termios' speed_t only knows the standard ones); -1 on failure.
    qint64 slaveSpeed() const;

    // Ends the far side, as if the cable or the adapter were pulled out.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString error_;
};
