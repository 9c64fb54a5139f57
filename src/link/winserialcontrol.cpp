#include "winserialcontrol.h"

#ifdef Q_OS_WIN
#include "win32commdriver.h"
#endif

#include <algorithm>
#include <utility>

using Op = CommDriver::Op;

namespace {

// Win32 error numbers for opening a port.
constexpr unsigned long FileNotFound = 2, PathNotFound = 3, InvalidName = 123, BadUnit = 20,
                        DevNotExist = 55, BadPathname = 161, Busy = 170;

} // namespace

WinSerialControl::WinSerialControl(PortNaming naming, std::unique_ptr<CommDriver> driver, QObject *parent)
    : BufferedSerialControl(parent), m_naming(std::move(naming)), m_driver(std::move(driver))
{
    m_driver->signalled = [this](Op op) { signalled(op); };
    for (auto [timer, op] : {std::pair{&m_readRetry, Op::Read}, std::pair{&m_writeRetry, Op::Write}}) {
        timer->setSingleShot(true);
        timer->setInterval(StatusRetry);
        connect(timer, &QTimer::timeout, this, [this, op = op] {
            if (m_open)
                m_driver->watch(op, true);
        });
    }
}

#ifdef Q_OS_WIN
WinSerialControl::WinSerialControl(PortNaming naming, QObject *parent)
    : WinSerialControl(std::move(naming), std::make_unique<Win32CommDriver>(), parent)
{
}
#endif

WinSerialControl::~WinSerialControl()
{
    closePort();
}

int WinSerialControl::openFailureCode(unsigned long error)
{
    switch (error) {
    case FileNotFound:
    case PathNotFound:
    case InvalidName:
    case BadUnit:
    case DevNotExist:
    case BadPathname:
        return SerialCode::NoSuchPort;
    case CommDriver::AccessDenied:
    case CommDriver::SharingViolation:
    case CommDriver::AlreadyExists: // another panel's claim
    case Busy:
        return SerialCode::PortInUse;
    default:
        return SerialCode::OpenFailed;
    }
}

int WinSerialControl::setCommPort(int number)
{
    if (m_open)
        return SerialCode::NotWhileOpen;
    if (number < 1)
        return SerialCode::BadPropertyValue;
    m_number = number;
    return SerialCode::Ok;
}

int WinSerialControl::setSettings(const QString &text)
{
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return SerialCode::BadSettings;
    m_line = *parsed;
    return m_open ? applyLine() : SerialCode::Ok;
}

int WinSerialControl::setHandshaking(int mode)
{
    if (mode != 0)
        return SerialCode::BadPropertyValue;
    return m_open ? applyLine() : SerialCode::Ok; // the line is set up without handshake
}

int WinSerialControl::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return SerialCode::Ok;
    }
    return m_open ? SerialCode::Ok : this->open();
}

int WinSerialControl::open()
{
    const QString device = m_naming.deviceFor(m_number);
    if (device.isEmpty())
        return SerialCode::NoSuchPort;
    if (const unsigned long error = m_driver->open(device))
        return openFailureCode(error);
    m_open = true;
    m_emptyReads = 0;
    startAfresh();
    if (const int rc = applyLine(); rc != SerialCode::Ok) {
        closePort();
        return rc;
    }
    m_driver->watch(Op::Read, true);
    m_driver->watch(Op::Write, true);
    if (armRead())
        return SerialCode::Ok;
    closePort();
    return SerialCode::LinkLost;
}

// Speed, framing, no handshake, the control lines as set, and the time a write may take: the
// line's time for its bytes (12 bits a byte at most, rounded up) plus WriteLimitMs.
int WinSerialControl::applyLine()
{
    const unsigned long msPerByte = (12 * 1000 + unsigned(m_line.baud) - 1) / unsigned(m_line.baud);
    return m_driver->setLine(m_line, m_dtr, m_rts) && m_driver->setTimeouts(msPerByte, WriteLimitMs)
               ? SerialCode::Ok
               : SerialCode::LineSetupFailed;
}

// A line held off that the device has no wire for (a virtual port) is as good as held off.
int WinSerialControl::setDTREnable(bool on)
{
    m_dtr = on;
    if (!m_open || m_driver->setDtr(on) || !on)
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

int WinSerialControl::setRTSEnable(bool on)
{
    m_rts = on;
    if (!m_open || m_driver->setRts(on) || !on)
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

// An operation's event was seen set.
void WinSerialControl::signalled(Op op)
{
    bool &busy = op == Op::Read ? m_reading : m_writing;
    CommDriver::Result result = m_driver->result(op); // also clears an event left from before
    if (!m_open || !busy || !settled(op, result))
        return;
    busy = false;
    if (op == Op::Read)
        readDone(result);
    else
        writeDone(result);
}

// Whether `result` is the end of the operation. Not yet, although its event was seen: either
// the notice was an old one (the event is clear now, and the real one follows), or the status
// trails the event (Wine posts it to this thread), which asking once more after the event was
// looked at usually settles; if not, the event is watched again after a short pause.
bool WinSerialControl::settled(Op op, CommDriver::Result &result)
{
    if (result.error != CommDriver::IoIncomplete)
        return true;
    if (!m_driver->isSignalled(op))
        return false;
    result = m_driver->result(op);
    if (result.error != CommDriver::IoIncomplete)
        return true;
    m_driver->watch(op, false);
    (op == Op::Read ? m_readRetry : m_writeRetry).start();
    return false;
}

// A read of everything queued, or, on a quiet line, of the first byte to come; false when the
// device no longer answers. A read waits for its full count (its timeouts are all zero), so it
// asks for no more than the driver has queued now: only this read takes from that queue.
bool WinSerialControl::armRead()
{
    unsigned long waiting = 0, error = 0;
    if (!m_driver->queued(waiting, error))
        return false;
    m_readBuffer.resize(std::clamp<qsizetype>(qsizetype(waiting), 1, ReadChunk));
    error = m_driver->startRead(m_readBuffer.data(), static_cast<unsigned long>(m_readBuffer.size()));
    m_reading = error == 0 || error == CommDriver::IoPending;
    return m_reading;
}

// The bytes are taken and the next read armed before the handler is told, which may close the
// port. Bytes that come while the handler runs events are handed on after it has returned: the
// read's notifier watches its event again only then. A read aborted, or over without a byte, is
// read again once; a second in a row means the device is no longer answering reads. Bytes that
// came before the device went are handed on before its going is said.
void WinSerialControl::readDone(const CommDriver::Result &result)
{
    if (result.error != 0 && result.error != CommDriver::OperationAborted)
        return lose();
    const QByteArray bytes = m_readBuffer.first(std::min<qsizetype>(qsizetype(result.bytes), m_readBuffer.size()));
    if (bytes.isEmpty() && ++m_emptyReads > 1)
        return lose();
    if (!bytes.isEmpty())
        m_emptyReads = 0;
    const bool armed = armRead();
    if (!armed)
        closePort();
    if (!bytes.isEmpty())
        receivedBytes(bytes);
    if (!armed)
        emit linkLost(SerialCode::LinkLost);
}

int WinSerialControl::output(const QByteArray &bytes)
{
    if (!m_open)
        return SerialCode::PortNotOpen;
    if (m_waitingBytes + bytes.size() > WriteQueueLimit) {
        // The device has taken nothing for a long while: as good as refused.
        closePort();
        return SerialCode::WriteFailed;
    }
    m_toWrite.append(bytes);
    m_waitingBytes += bytes.size();
    return m_writing ? SerialCode::Ok : writeNext();
}

// Starts the next write waiting, if any.
int WinSerialControl::writeNext()
{
    if (m_toWrite.isEmpty())
        return SerialCode::Ok;
    m_written = m_toWrite.takeFirst();
    m_waitingBytes -= m_written.size();
    const unsigned long error = m_driver->startWrite(m_written.constData(), static_cast<unsigned long>(m_written.size()));
    if (error != 0 && error != CommDriver::IoPending) {
        const int code = writeFailureCode();
        closePort();
        return code;
    }
    m_writing = true;
    return SerialCode::Ok;
}

// What the driver did not take goes first; a write that went nowhere was refused.
void WinSerialControl::writeDone(const CommDriver::Result &result)
{
    const qsizetype put = std::min<qsizetype>(qsizetype(result.bytes), m_written.size());
    int code = SerialCode::Ok;
    if (result.error != 0 || (put == 0 && !m_written.isEmpty())) {
        code = writeFailureCode();
        closePort();
    } else {
        if (put < m_written.size()) {
            m_toWrite.prepend(m_written.sliced(put));
            m_waitingBytes += m_written.size() - put;
        }
        m_written.clear();
        code = writeNext();
    }
    if (code == SerialCode::LinkLost)
        emit linkLost(code);
    else if (code != SerialCode::Ok)
        emit writeFailed();
}

// A refused write: the device's going away (8034) if it no longer answers at all, else a
// refusal (8033). Asked before the port is closed.
int WinSerialControl::writeFailureCode()
{
    unsigned long waiting = 0, error = 0;
    return m_driver->queued(waiting, error) ? SerialCode::WriteFailed : SerialCode::LinkLost;
}

// The device failed under us: closed at once, said once.
void WinSerialControl::lose()
{
    closePort();
    emit linkLost(SerialCode::LinkLost);
}

// What is on its way is cancelled and given CancelGrace to end; what does not end by then is
// left to the driver with its buffer, so that nothing the driver may still write to is freed.
void WinSerialControl::closePort()
{
    if (!m_open)
        return;
    m_open = false;
    m_readRetry.stop();
    m_writeRetry.stop();
    m_driver->watch(Op::Read, false);
    m_driver->watch(Op::Write, false);
    if (m_reading || m_writing) {
        m_driver->cancel(static_cast<unsigned long>(CancelGrace.count()));
        if (m_reading && m_driver->result(Op::Read).error == CommDriver::IoIncomplete)
            m_driver->abandon(Op::Read, std::exchange(m_readBuffer, {}));
        if (m_writing && m_driver->result(Op::Write).error == CommDriver::IoIncomplete)
            m_driver->abandon(Op::Write, std::exchange(m_written, {}));
    }
    m_reading = m_writing = false;
    m_driver->close();
    m_written.clear();
    m_toWrite.clear();
    m_waitingBytes = 0;
}
