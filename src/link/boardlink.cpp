#include "boardlink.h"

#include "linetap.h"
#include "pacingwait.h"
#include "serialcontrol.h"

BoardLink::BoardLink(SerialControl &serial, Pacer &pacer, QObject *parent)
    : QObject(parent), m_serial(serial), m_pacer(pacer),
      m_search(QStringLiteral("Timer1"), SearchInterval, this, [this] { searchStep(); }),
      m_replyTimeout(QStringLiteral("TimerCom"), ReplyTimeout, this, [this] { replyTimeoutExpired(); })
{
    connect(&m_serial, &SerialControl::onComm, this, &BoardLink::receive);
    // A line the port was closed in the middle of never ends: what comes after a reopening
    // starts afresh, rather than being glued to it.
    connect(&m_serial, &SerialControl::linkLost, this, [this](int code) {
        m_assembler.reset();
        emit linkLost(code);
    });
    connect(&m_serial, &SerialControl::writeFailed, this, [this] {
        m_assembler.reset();
        emit writeRefused(m_lastWriter);
    });
}

int BoardLink::setPort(int number)
{
    return m_serial.setCommPort(number);
}

int BoardLink::setSpeed(const QString &baud)
{
    m_baud = baud;
    return m_serial.setSettings(baud + QStringLiteral(",N,8,1"));
}

void BoardLink::startSearch()
{
    m_search.setEnabled(true);
}

void BoardLink::stopSearch()
{
    m_search.setEnabled(false);
}

void BoardLink::searchStep()
{
    int rc = m_serial.setSettings(m_baud + QStringLiteral(",n,8,1"));
    if (rc == SerialCode::Ok)
        rc = m_serial.setHandshaking(0);
    if (rc != SerialCode::Ok)
        return emit searchFailed(rc);

    emit searching();
    m_replyTimeout.setEnabled(true);

    if (!m_serial.portOpen())
        rc = m_serial.setPortOpen(true);
    if (rc == SerialCode::Ok)
        rc = m_serial.setDTREnable(false);
    if (rc == SerialCode::Ok)
        rc = m_serial.setRTSEnable(false);
    if (rc == SerialCode::Ok)
        rc = m_serial.setRThreshold(1);
    if (rc == SerialCode::Ok)
        rc = m_serial.setInputLen(1);
    if (rc == SerialCode::Ok) {
        m_lastWriter = Writer::Search;
        rc = write(Protocol::Identify);
    }
    if (rc != SerialCode::Ok)
        emit searchFailed(rc);
}

void BoardLink::replyTimeoutExpired()
{
    m_replyTimeout.setEnabled(false);
    emit replyTimedOut();
}

bool BoardLink::transmit(const QString &command, int client)
{
    m_lastWriter = Writer::Sender;
    return write(command, client) == SerialCode::Ok;
}

int BoardLink::writeDirect(const QString &command)
{
    m_lastWriter = Writer::Direct;
    return write(command);
}

int BoardLink::write(const QString &command, int client)
{
    const QByteArray bytes = Protocol::frame(command);
    const int rc = m_serial.output(bytes);
    if (rc != SerialCode::Ok)
        m_assembler.reset(); // a refusal has closed the port, in the middle of a line perhaps
    else if (m_tap)
        m_tap->commandSent(QByteArrayView(bytes).chopped(1), client);
    return rc;
}

void BoardLink::pause()
{
    m_pacer.pause();
}

void BoardLink::close()
{
    if (m_serial.portOpen())
        m_serial.setPortOpen(false);
    m_assembler.reset();
}

void BoardLink::shutDown()
{
    close();
    m_search.setEnabled(false);
    m_replyTimeout.setEnabled(false);
}

// Everything waiting is read at once and split into lines; each line is handled before the
// next. (Taken all at once, the bytes make the same lines as taken InputLen at a time.)
void BoardLink::receive()
{
    if (m_serial.commEvent() != SerialControl::EventReceive)
        return;
    const QByteArray bytes = m_serial.inputAll();
    emit bytesReceived(bytes);
    m_assembler.feed(bytes, [this](const LineAssembler::Line &line) { handleLine(line); });
    if (m_tap)
        m_tap->receiveDone();
}

void BoardLink::handleLine(const LineAssembler::Line &line)
{
    m_replyTimeout.setEnabled(false);
    if (m_tap)
        m_tap->lineReceived(line.bytes, line.cut);
    const Protocol::Reply reply = Protocol::decode(line.bytes, line.tooLong, m_expectedName);
    if (reply.identifies)
        m_search.setEnabled(false);
    emit replyReceived(reply);
}
