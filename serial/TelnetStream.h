#pragma once

#include "LineSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// The client end of a Telnet connection to a device server that carries a
// serial line with the COM port control option (RFC 2217): turns the bytes
// the server sends into the line's data bytes, the negotiation answers to
// send back and the server's COM port answers, and wraps what goes out. No
// socket: the port that owns the connection feeds it and sends what it gives.
//
//   TelnetStream telnet;
//   socket.write(telnet.start());
//   ... on readyRead:
//   received += telnet.feed(socket.readAll());
//   socket.write(telnet.takeReplies());
//   for (const auto &answer : telnet.takeComPortAnswers()) ...
//   ... to send:
//   socket.write(TelnetStream::data(bytes));
//
// Options are negotiated by RFC 1143's Q method, so no exchange with any
// server can loop: an answer goes out only when a request changes an
// option's state.
class TelnetStream {
public:
    // The Telnet commands (RFC 854) this class reads or writes.
    enum Command : quint8 {
        SE = 240,
        NOP = 241,
        DM = 242,
        GA = 249,
        SB = 250,
        WILL = 251,
        WONT = 252,
        DO = 253,
        DONT = 254,
        IAC = 255,
    };
    // The options the client takes part in; it refuses every other.
    enum Option : quint8 {
        Binary = 0,          // RFC 856
        SuppressGoAhead = 3, // RFC 858
        ComPort = 44,        // RFC 2217
    };
    // The COM port option's commands as the client sends them; the server
    // answers each with its code + kServerOffset.
    enum ComPortCommand : quint8 {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr quint8 kServerOffset = 100;

    // What PURGE-DATA empties in the device server.
    enum class Purge : quint8 { Receive = 1, Transmit = 2, Both = 3 };

    // An option's state on one side of the connection (RFC 1143). WantYes
    // and WantNo: asked and waiting for the answer; `queued` then says the
    // opposite was asked meanwhile and is sent when the answer comes.
    enum class State : quint8 { No, Yes, WantNo, WantYes };
    struct OptionState {
        State state = State::No;
        bool queued = false;
        // The other side turned down our request, or turned the option off.
        bool refused = false;
    };

    // One COM port subnegotiation from the server: its command code (a
    // server code, e.g. 101 for SET-BAUDRATE) and its value bytes, with
    // doubled IACs made single again.
    struct ComPortAnswer {
        quint8 command = 0;
        QByteArray value;
        // The value read as a big-endian number (a baud rate has 4 bytes,
        // the other settings 1); 0 for an empty value.
        quint32 number() const;
        bool operator==(const ComPortAnswer &) const = default;
    };

    // A subnegotiation longer than this (option byte and value, undoubled)
    // is dropped whole. A COM port answer takes at most a few bytes; a
    // signature text is the longest and stays well below.
    static constexpr qsizetype kMaxSubnegotiation = 256;

    // What the client asks when the connection opens: WILL and DO BINARY,
    // WILL and DO SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION.
    QByteArray start();

    // Takes the next bytes from the server, cut anywhere, and returns the
    // data bytes among them. A command cut at the end of a piece completes
    // with the next piece.
    QByteArray feed(QByteArrayView bytes);
    // The negotiation answers feed() and the requests queued so far, to be
    // sent to the server in this order; empties the queue.
    QByteArray takeReplies();
    // The COM port answers feed() decoded since the last call.
    QList<ComPortAnswer> takeComPortAnswers();

    // Asks for an option on our side ("WILL") or the server's ("DO"), or for
    // it to be off; the request, if one must go out, joins takeReplies().
    void askUs(quint8 option, bool enable);
    void askHim(quint8 option, bool enable);
    OptionState us(quint8 option) const { return m_us[option]; }
    OptionState him(quint8 option) const { return m_him[option]; }

    // The server agreed to the COM port option: setting commands take effect.
    bool comPortAgreed() const;
    // The server said DONT COM-PORT-OPTION: the line's settings cannot be
    // set through this connection.
    bool serverRefusedComPort() const;
    // Both directions carry 8-bit data as it is.
    bool binaryBothWays() const;

    // Data bytes for the wire: every 0xFF doubled.
    static QByteArray data(QByteArrayView bytes);
    // IAC SB COM-PORT-OPTION <command> <value, IAC doubled> IAC SE.
    static QByteArray comPortCommand(quint8 command, QByteArrayView value);

    // The setting commands with the values RFC 2217 gives them.
    static QByteArray setBaudRate(quint32 baudRate);
    static QByteArray setDataSize(int dataBits);
    static QByteArray setParity(char parity);
    static QByteArray setStopSize(LineSettings::StopBits stopBits);
    static QByteArray setFlowControl(LineSettings::FlowControl flowControl);
    static QByteArray purgeData(Purge which);
    // Every setting of `line`, in the order RFC 2217 lists them: baud rate,
    // data size, parity, stop size, flow control.
    static QByteArray setLine(const LineSettings &line);

private:
    enum class Reading : quint8 {
        Data,
        Iac,         // after IAC
        Negotiation, // after IAC WILL/WONT/DO/DONT: the option comes next
        SubOption,   // after IAC SB: the option comes next
        SubValue,    // inside a subnegotiation
        SubIac,      // after IAC inside a subnegotiation
    };

    void readCommand(quint8 command);
    void negotiate(quint8 verb, quint8 option);
    void receivedWill(quint8 option);
    void receivedWont(quint8 option);
    void receivedDo(quint8 option);
    void receivedDont(quint8 option);
    void keepSubnegotiationByte(char c);
    void endSubnegotiation();
    void reply(quint8 verb, quint8 option);

    Reading m_reading = Reading::Data;
    quint8 m_verb = 0;
    QByteArray m_sub; // option byte and value of the subnegotiation being read
    bool m_subTooLong = false;
    QByteArray m_replies;
    QList<ComPortAnswer> m_answers;
    std::array<OptionState, 256> m_us{};
    std::array<OptionState, 256> m_him{};
};
