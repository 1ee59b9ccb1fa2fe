#pragma once

#include "Cp932Decoder.h"
#include "LargePages.h"
#include "LineSettings.h"
#include "SerialPort.h"
#include "TelnetStream.h"

#include <QTcpSocket>

#include <chrono>
#include <optional>

// A serial line behind a device server, reached over TCP: rfc2217://HOST:PORT
// (Telnet with the COM port control option, which sets the line up) or
// socket://HOST:PORT (the line's bytes as they are; the server's own setup
// stands). HOST is a name, an IPv4 address or a bracketed IPv6 address.
//
// open() returns only once the connection is up and, for rfc2217, the server
// has taken every setting: it runs a local event loop, without user input,
// for at most a few seconds.
class NetworkPort : public SerialPort {
    Q_OBJECT
public:
    enum class Kind { Rfc2217, Socket };
    struct Address {
        Kind kind = Kind::Socket;
        QString host;
        quint16 port = 0;
    };
    // parseAddress("rfc2217://[::1]:2000") == {Rfc2217, "::1", 2000}; nothing
    // (with the reason in `why`) for a text that is not such an address.
    static std::optional<Address> parseAddress(const QString &text, QString *why = nullptr);
    // Whether the text is meant as a network address (begins with one of the
    // two schemes), right or wrong.
    static bool looksLikeAddress(const QString &text);

    // Connecting, and the server's answers to the option and the settings,
    // each get this long.
    static constexpr std::chrono::milliseconds kConnectLimit{5000};
    static constexpr std::chrono::milliseconds kNegotiationLimit{5000};
    // A server may leave SET-CONTROL (flow control) and PURGE-DATA without an
    // answer; the open goes on after this long without one.
    static constexpr std::chrono::milliseconds kControlAnswerLimit{1000};

    explicit NetworkPort(const QString &address = {}, QObject *parent = nullptr);
    ~NetworkPort() override;

    // The number means nothing to a network port; it is kept for messages.
    void setCommPort(int number) override { number_ = number; }
    int commPort() const override { return number_; }
    void setDevice(const QString &address) override { address_ = address; }

    void setSettings(const LineSettings &line) override { line_ = line; }
    LineSettings settings() const override { return line_; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return state_ == State::Open; }

    Output output(const QString &text) override;
    qint64 drain(std::chrono::milliseconds limit) override;
    QString input() override;
    QString escapedInput() override;

    QString errorString() const override { return error_; }
    // What the last open accepted without the server's word (a setting it
    // left unanswered), or, for socket://, that no setting was applied;
    // empty when the server confirmed everything.
    QString note() const override { return note_; }

    // The most bytes kept waiting to be sent; a send beyond it is refused.
    static constexpr qint64 kWriteBufferLimit = 8 * 1024 * 1024;

    // The most received bytes kept between two reads (for rfc2217 the
    // line's bytes, Telnet's own taken out). Beyond it the port reads no
    // more from the connection: the server's data waits in the systems'
    // buffers on the way and TCP holds the server back, as a line's flow
    // control holds its far end, so an open port nobody reads stays small.
    // Nothing is lost: once input() takes bytes, reading goes on.
    static constexpr qint64 kReadBufferLimit = 8 * 1024 * 1024;
    void setReadBufferLimit(qint64 bytes);
    // The received bytes waiting for the next input(), at most the limit.
    qint64 bytesWaiting() const { return received_.size(); }

private:
    enum class State { Closed, Opening, Open };

    bool connectTo(const Address &address);
    bool negotiate();
    // Runs the event loop until `done` holds, the connection fails or
    // `limit` passes; true when `done` held.
    template <typename Done> bool waitFor(std::chrono::milliseconds limit, Done done);
    // Reads from the socket what the read limit leaves room for, and tells
    // of what is waiting then.
    void onReadyRead();
    // The same from the event loop, for bytes the socket already holds:
    // they come with no readyRead of their own.
    void readLater();
    // Takes Telnet bytes from the server: the line's data joins received_,
    // the negotiation answers go back, the COM port answers to answers_.
    void readTelnet(QByteArrayView bytes);
    void takeAnswers();
    void onGone();
    QByteArray takeReceived();

    // The socket's own buffer holds at most this much on its way in; the
    // port takes it in at once while there is room.
    static constexpr qint64 kSocketReadChunk = 64 * 1024;

    QTcpSocket socket_;
    TelnetStream telnet_;
    Kind kind_ = Kind::Socket;
    Cp932Decoder decoder_{LargePages::prefer};
    State state_ = State::Closed;
    quint64 opens_ = 0; // successful opens so far; tells a stale loss report
    int number_ = 1;
    QString address_;
    LineSettings line_;
    QByteArray received_;
    qint64 sentSinceDrain_ = 0; // data bytes given to output() since the last drain()
    // How long a device server is given to pass on what it took, beyond the
    // line's own time for it, before drain() reports it all sent.
    static constexpr std::chrono::milliseconds kPassOnTime{200};
    qint64 readLimit_ = kReadBufferLimit;
    bool readPending_ = false; // a readLater() call is on its way
    // While opening: the COM port answers gathered so far, and whether the
    // data that arrives is still from before the purge (a banner).
    QList<TelnetStream::ComPortAnswer> answers_;
    bool dropData_ = false;
    bool endedWithIac_ = false; // the last byte read was an IAC
    QString where_;             // the address last opened, for messages
    QString error_;
    QString note_;
};
