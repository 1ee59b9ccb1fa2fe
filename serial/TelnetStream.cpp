#include "TelnetStream.h"

#include <utility>

namespace {

// The options the client enables on its own side when the server asks (DO).
bool weAgreeToDo(quint8 option)
{
    return option == TelnetStream::Binary || option == TelnetStream::SuppressGoAhead ||
           option == TelnetStream::ComPort;
}

// The options the client lets the server enable (WILL). COM-PORT-OPTION is
// not among them: the server enabling it would make the client the access
// server.
bool weAgreeToWill(quint8 option)
{
    return option == TelnetStream::Binary || option == TelnetStream::SuppressGoAhead;
}

void appendEscaped(QByteArray &out, QByteArrayView bytes)
{
    for (char c : bytes) {
        out += c;
        if (quint8(c) == TelnetStream::IAC)
            out += c;
    }
}

} // namespace

quint32 TelnetStream::ComPortAnswer::number() const
{
    quint32 n = 0;
    for (qsizetype i = 0; i < value.size() && i < 4; ++i)
        n = (n << 8) | quint8(value[i]);
    return n;
}

QByteArray TelnetStream::start()
{
    askUs(Binary, true);
    askHim(Binary, true);
    askUs(SuppressGoAhead, true);
    askHim(SuppressGoAhead, true);
    askUs(ComPort, true);
    return takeReplies();
}

QByteArray TelnetStream::feed(QByteArrayView bytes)
{
    // Both directions are asked to be BINARY, and a device server passes the
    // line's bytes as they are whatever it agreed to: a CR followed by NUL or
    // LF is two data bytes, never the NVT's single CR, so nothing waits for
    // the byte after a CR. Only the Telnet commands are taken out.
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const quint8 b = quint8(c);
        switch (m_reading) {
        case Reading::Data: {
            // The run of data up to the next IAC goes out at once.
            qsizetype end = bytes.indexOf(char(IAC), i);
            if (end < 0)
                end = bytes.size();
            out += bytes.sliced(i, end - i);
            i = end;
            if (i < bytes.size())
                m_reading = Reading::Iac;
            break;
        }
        case Reading::Iac:
            if (b == IAC) {
                out += c;
                m_reading = Reading::Data;
            } else {
                readCommand(b);
            }
            break;
        case Reading::Negotiation:
            m_reading = Reading::Data;
            negotiate(m_verb, b);
            break;
        case Reading::SubOption:
            m_sub += c;
            m_reading = Reading::SubValue;
            break;
        case Reading::SubValue:
            if (b == IAC)
                m_reading = Reading::SubIac;
            else
                keepSubnegotiationByte(c);
            break;
        case Reading::SubIac:
            if (b == IAC) {
                m_reading = Reading::SubValue;
                keepSubnegotiationByte(c);
            } else if (b == SE) {
                m_reading = Reading::Data;
                endSubnegotiation();
            } else {
                // A command inside a subnegotiation: its IAC SE was lost.
                // The subnegotiation is dropped and the command read as one.
                readCommand(b);
            }
            break;
        }
    }
    return out;
}

void TelnetStream::readCommand(quint8 command)
{
    m_reading = Reading::Data;
    if (command >= WILL) {
        m_verb = command;
        m_reading = Reading::Negotiation;
    } else if (command == SB) {
        m_sub.resize(0);
        m_subTooLong = false;
        m_reading = Reading::SubOption;
    }
    // NOP, DM, GA, AYT, a stray SE and the like carry nothing for the line
    // and are dropped.
}

QByteArray TelnetStream::takeReplies()
{
    return std::exchange(m_replies, {});
}

QList<TelnetStream::ComPortAnswer> TelnetStream::takeComPortAnswers()
{
    return std::exchange(m_answers, {});
}

void TelnetStream::endSubnegotiation()
{
    if (!m_subTooLong && m_sub.size() >= 2 && quint8(m_sub[0]) == ComPort)
        m_answers.append({quint8(m_sub[1]), m_sub.mid(2)});
    // Any other option's subnegotiation is for an option the client never
    // agreed to.
}

void TelnetStream::keepSubnegotiationByte(char c)
{
    // Past the bound the bytes are only counted out, so that no server can
    // make the client hold more than kMaxSubnegotiation bytes.
    if (m_sub.size() < kMaxSubnegotiation)
        m_sub += c;
    else
        m_subTooLong = true;
}

void TelnetStream::reply(quint8 verb, quint8 option)
{
    m_replies += char(IAC);
    m_replies += char(verb);
    m_replies += char(option);
}

void TelnetStream::negotiate(quint8 verb, quint8 option)
{
    switch (verb) {
    case WILL:
        receivedWill(option);
        break;
    case WONT:
        receivedWont(option);
        break;
    case DO:
        receivedDo(option);
        break;
    default:
        receivedDont(option);
        break;
    }
}

// RFC 1143's tables, for either side: `accept` answers a request to enable,
// `refuse` one to disable (DO/DONT for the server's side, WILL/WONT for ours).
namespace {

using OptionState = TelnetStream::OptionState;
using State = TelnetStream::State;

// The other side says it enables (WILL) or asks us to (DO). Returns the verb
// to answer with, or 0 for none.
quint8 onEnable(OptionState &s, bool agree, quint8 accept, quint8 refuse)
{
    switch (s.state) {
    case State::No:
        if (!agree)
            return refuse;
        s.state = State::Yes;
        s.refused = false;
        return accept;
    case State::Yes:
        return 0;
    case State::WantNo:
        // Our disable was answered by an enable: the RFC takes it as off
        // unless we meanwhile asked for on again.
        s.state = s.queued ? State::Yes : State::No;
        s.queued = false;
        return 0;
    case State::WantYes:
        if (s.queued) {
            s.state = State::WantNo;
            s.queued = false;
            return refuse;
        }
        s.state = State::Yes;
        s.refused = false;
        return 0;
    }
    return 0;
}

// The other side says it disables (WONT) or asks us to (DONT).
quint8 onDisable(OptionState &s, quint8 accept, quint8 refuse)
{
    switch (s.state) {
    case State::No:
        return 0;
    case State::Yes:
        s.state = State::No;
        s.refused = true;
        return refuse;
    case State::WantNo:
        if (s.queued) {
            s.state = State::WantYes;
            s.queued = false;
            return accept;
        }
        s.state = State::No;
        return 0;
    case State::WantYes:
        s.state = State::No;
        s.queued = false;
        s.refused = true;
        return 0;
    }
    return 0;
}

// We want the option on or off.
quint8 onAsk(OptionState &s, bool enable, quint8 accept, quint8 refuse)
{
    switch (s.state) {
    case State::No:
        if (!enable)
            return 0;
        s.state = State::WantYes;
        return accept;
    case State::Yes:
        if (enable)
            return 0;
        s.state = State::WantNo;
        return refuse;
    case State::WantNo:
        s.queued = enable;
        return 0;
    case State::WantYes:
        s.queued = !enable;
        return 0;
    }
    return 0;
}

} // namespace

void TelnetStream::receivedWill(quint8 option)
{
    if (const quint8 verb = onEnable(m_him[option], weAgreeToWill(option), DO, DONT))
        reply(verb, option);
}

void TelnetStream::receivedWont(quint8 option)
{
    if (const quint8 verb = onDisable(m_him[option], DO, DONT))
        reply(verb, option);
}

void TelnetStream::receivedDo(quint8 option)
{
    if (const quint8 verb = onEnable(m_us[option], weAgreeToDo(option), WILL, WONT))
        reply(verb, option);
}

void TelnetStream::receivedDont(quint8 option)
{
    if (const quint8 verb = onDisable(m_us[option], WILL, WONT))
        reply(verb, option);
}

void TelnetStream::askUs(quint8 option, bool enable)
{
    if (const quint8 verb = onAsk(m_us[option], enable, WILL, WONT))
        reply(verb, option);
}

void TelnetStream::askHim(quint8 option, bool enable)
{
    if (const quint8 verb = onAsk(m_him[option], enable, DO, DONT))
        reply(verb, option);
}

bool TelnetStream::comPortAgreed() const
{
    return m_us[ComPort].state == State::Yes;
}

bool TelnetStream::serverRefusedComPort() const
{
    return m_us[ComPort].state == State::No && m_us[ComPort].refused;
}

bool TelnetStream::binaryBothWays() const
{
    return m_us[Binary].state == State::Yes && m_him[Binary].state == State::Yes;
}

QByteArray TelnetStream::data(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.count(char(IAC)));
    appendEscaped(out, bytes);
    return out;
}

QByteArray TelnetStream::comPortCommand(quint8 command, QByteArrayView value)
{
    QByteArray out;
    out.reserve(6 + 2 * value.size());
    out += char(IAC);
    out += char(SB);
    out += char(ComPort);
    out += char(command);
    if (command == IAC)
        out += char(IAC);
    appendEscaped(out, value);
    out += char(IAC);
    out += char(SE);
    return out;
}

QByteArray TelnetStream::setBaudRate(quint32 baudRate)
{
    const char value[4] = {char(baudRate >> 24), char(baudRate >> 16), char(baudRate >> 8),
                           char(baudRate)};
    return comPortCommand(SetBaudRate, QByteArrayView(value, 4));
}

QByteArray TelnetStream::setDataSize(int dataBits)
{
    const char value = char(dataBits);
    return comPortCommand(SetDataSize, QByteArrayView(&value, 1));
}

QByteArray TelnetStream::setParity(char parity)
{
    // 0 asks the server for its current parity: a parity letter LineSettings
    // never holds sets nothing, and the answer tells what the line has.
    char value = 0;
    switch (parity) {
    case 'N':
        value = 1;
        break;
    case 'O':
        value = 2;
        break;
    case 'E':
        value = 3;
        break;
    case 'M':
        value = 4;
        break;
    case 'S':
        value = 5;
        break;
    }
    return comPortCommand(SetParity, QByteArrayView(&value, 1));
}

QByteArray TelnetStream::setStopSize(LineSettings::StopBits stopBits)
{
    char value = 1;
    switch (stopBits) {
    case LineSettings::StopBits::One:
        value = 1;
        break;
    case LineSettings::StopBits::Two:
        value = 2;
        break;
    case LineSettings::StopBits::OneAndHalf:
        value = 3;
        break;
    }
    return comPortCommand(SetStopSize, QByteArrayView(&value, 1));
}

QByteArray TelnetStream::setFlowControl(LineSettings::FlowControl flowControl)
{
    // SET-CONTROL values 1 to 3 set the outbound (and with it the inbound)
    // flow control, one kind at a time. RTS/CTS with XON/XOFF asks for the
    // hardware one: it holds the line without taking bytes out of the data,
    // where XON/XOFF alone would leave the RTS/CTS wiring unused.
    char value = 1;
    switch (flowControl) {
    case LineSettings::FlowControl::None:
        value = 1;
        break;
    case LineSettings::FlowControl::XonXoff:
        value = 2;
        break;
    case LineSettings::FlowControl::RtsCts:
    case LineSettings::FlowControl::RtsCtsXonXoff:
        value = 3;
        break;
    }
    return comPortCommand(SetControl, QByteArrayView(&value, 1));
}

QByteArray TelnetStream::purgeData(Purge which)
{
    const char value = char(which);
    return comPortCommand(PurgeData, QByteArrayView(&value, 1));
}

QByteArray TelnetStream::setLine(const LineSettings &line)
{
    return setBaudRate(quint32(line.baudRate)) + setDataSize(line.dataBits) +
           setParity(line.parity) + setStopSize(line.stopBits) + setFlowControl(line.flowControl);
}
