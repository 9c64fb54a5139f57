#include "qtserialcontrol.h"

#include "serialnode.h"

#include <QFile>

#include <cerrno>
#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

QSerialPort::Parity toQt(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::Even: return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd: return QSerialPort::OddParity;
    case LineSettings::Parity::Mark: return QSerialPort::MarkParity;
    case LineSettings::Parity::Space: return QSerialPort::SpaceParity;
    case LineSettings::Parity::None: break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two: return QSerialPort::TwoStop;
    case LineSettings::StopBits::One: break;
    }
    return QSerialPort::OneStop;
}

// Devices without modem control lines (pseudo-terminals, some adapters) refuse the ioctl;
// a line that does not exist is as good as held off.
bool lineRefusedForLackOfModemLines(const QSerialPort &port)
{
    return port.error() == QSerialPort::UnsupportedOperationError;
}

} // namespace

QtSerialControl::QtSerialControl(PortNaming naming, QObject *parent)
    : QtSerialControl(std::move(naming), SerialNode::hasChip, parent)
{
}

QtSerialControl::QtSerialControl(PortNaming naming, ChipCheck hasChip, QObject *parent)
    : BufferedSerialControl(parent), m_naming(std::move(naming)), m_hasChip(std::move(hasChip))
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialControl::receive);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::portError);
}

int QtSerialControl::setCommPort(int number)
{
    if (m_port.isOpen())
        return SerialCode::NotWhileOpen;
    if (number < 1)
        return SerialCode::BadPropertyValue;
    m_number = number;
    return SerialCode::Ok;
}

int QtSerialControl::setSettings(const QString &text)
{
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return SerialCode::BadSettings;
    m_line = *parsed;
    return m_port.isOpen() ? applyLine() : SerialCode::Ok;
}

int QtSerialControl::setHandshaking(int mode)
{
    if (mode != 0)
        return SerialCode::BadPropertyValue;
    if (m_port.isOpen() && !m_port.setFlowControl(QSerialPort::NoFlowControl))
        return SerialCode::LineSetupFailed;
    return SerialCode::Ok;
}

int QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        m_port.close();
        return SerialCode::Ok;
    }
    return m_port.isOpen() ? SerialCode::Ok : this->open();
}

int QtSerialControl::open()
{
    const QString device = m_naming.deviceFor(m_number);
    if (device.isEmpty())
        return SerialCode::NoSuchPort;
    m_port.setPortName(device);
    if (m_port.open(QIODevice::ReadWrite)) {
        if (m_hasChip && !m_hasChip(m_port.handle())) {
            m_port.close();
            return SerialCode::NoSuchPort;
        }
        startAfresh();
        const int rc = applyLine();
        if (rc != SerialCode::Ok)
            m_port.close();
        return rc;
    }
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::UnsupportedOperationError: // a regular file, not a device
        return SerialCode::NoSuchPort;
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        // Busy or locked by another process is "in use"; no rights on the device is not.
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return SerialCode::AccessDenied;
#endif
        return SerialCode::PortInUse;
    default:
        return SerialCode::OpenFailed;
    }
}

int QtSerialControl::applyLine()
{
    const bool ok = m_port.setBaudRate(m_line.baud) && m_port.setParity(toQt(m_line.parity))
                    && m_port.setDataBits(QSerialPort::DataBits(m_line.dataBits))
                    && m_port.setStopBits(toQt(m_line.stopBits));
    return ok ? SerialCode::Ok : SerialCode::LineSetupFailed;
}

int QtSerialControl::setDTREnable(bool on)
{
    if (!m_port.isOpen())
        return SerialCode::Ok; // applied on the device only while open
    if (m_port.setDataTerminalReady(on) || (!on && lineRefusedForLackOfModemLines(m_port)))
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

int QtSerialControl::setRTSEnable(bool on)
{
    if (!m_port.isOpen())
        return SerialCode::Ok;
    if (m_port.setRequestToSend(on) || (!on && lineRefusedForLackOfModemLines(m_port)))
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

int QtSerialControl::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return SerialCode::PortNotOpen;
    // QSerialPort only buffers a write; flush() hands it to the device now, so that a refusal
    // belongs to this command. What the device cannot take at once goes out later.
    m_writing = true;
    m_writeRefused = false;
    const bool queued = m_port.write(bytes) == bytes.size();
#ifdef Q_OS_UNIX
    // (On Windows flush() would wait until the bytes are on the line; a refusal there comes
    // as writeFailed().)
    if (queued)
        m_port.flush();
#endif
    m_writing = false;
    if (queued && !m_writeRefused)
        return SerialCode::Ok;
    if (m_port.isOpen())
        m_port.close();
    return SerialCode::WriteFailed;
}

void QtSerialControl::receive()
{
    receivedBytes(m_port.readAll());
}

void QtSerialControl::portError(QSerialPort::SerialPortError error)
{
    const int cause = errno;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError
        && error != QSerialPort::WriteError)
        return;
    // QSerialPort takes a full output queue (EAGAIN) for a resource error, but it keeps the
    // bytes and sends them when the device is ready.
    if (error == QSerialPort::ResourceError && cause == EAGAIN)
        return;
    if (m_writing) {
        m_writeRefused = true; // output() closes the port and says so
        return;
    }
    if (!m_port.isOpen())
        return;
    // Bytes still waiting mean the device refused them; a vanished device also makes
    // QSerialPort report read errors in a tight loop and keep the port open. Either way the
    // port is closed at the first error, so that nothing spins, and that is said once.
    const bool refusedWrite = error == QSerialPort::WriteError || m_port.bytesToWrite() > 0;
    m_port.close();
    if (refusedWrite)
        emit writeFailed();
    else
        emit linkLost(SerialCode::LinkLost);
}
