#pragma once

#include <QObject>
#include <QString>

class QPlainTextEdit;
class SerialPort;
struct Controls;
struct WindowState;

// The four port buttons: open the port with the window's settings, send the
// send box once (feedback mode), read and show what arrived (echo mode),
// close. Also reacts when the open port is lost.
class PortControl : public QObject {
    Q_OBJECT
public:
    enum Button { Open = 0, Send = 1, Receive = 2, Close = 3 };

    PortControl(Controls &controls, WindowState &state, SerialPort &port,
                QObject *parent = nullptr);

    // The click handler of Command1(index).
    void click(int index);

    // Shown in the receive box whenever opening fails, whatever the cause.
    static QString openFailedMessage();
    // Shown in the receive box when an open port is lost.
    static QString lostMessage(int portNumber);
    // Added to the receive box when the port refuses a send: too much waits
    // unsent already (see SerialPort::output).
    static QString sendRefusedMessage();
    // Adds sendRefusedMessage() as a line after what the receive box holds.
    // A send a timer repeats tick after tick says it once: with `once`, a
    // box whose last line says it already is left as it is.
    static void showSendRefused(QPlainTextEdit *receiveBox, bool once = false);

private:
    bool open();
    void send();
    void receive();
    void close();
    void onLost();
    void showOpenButtons(bool portOpen);

    Controls &controls_;
    WindowState &state_;
    SerialPort &port_;
};
