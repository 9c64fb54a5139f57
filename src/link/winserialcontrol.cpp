#include "winserialcontrol.h"

#include <QWinEventNotifier>

#include <windows.h>

#include <utility>

// One overlapped operation: its OVERLAPPED with a manual-reset event, and the notifier that
// tells the GUI thread when the event is signalled.
struct Pending {
    OVERLAPPED ov{};
    QWinEventNotifier notifier;
    bool busy = false; // issued, not yet completed

    Pending() : notifier(ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Pending() { CloseHandle(ov.hEvent); }
    void restart()
    {
        const HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
        ResetEvent(event);
    }
};

struct WinSerialControl::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr; // the named mutex that says a panel has the port
    Pending wait;  // WaitCommEvent for received characters
    DWORD mask = 0;
    Pending write; // the write on its way
    QByteArray writing;
    Pending read;  // ReadFile of what is queued; completes at once
};

namespace {

BYTE toDcb(LineSettings::Parity p)
{
    switch (p) {
    case LineSettings::Parity::Even: return EVENPARITY;
    case LineSettings::Parity::Odd: return ODDPARITY;
    case LineSettings::Parity::Mark: return MARKPARITY;
    case LineSettings::Parity::Space: return SPACEPARITY;
    case LineSettings::Parity::None: break;
    }
    return NOPARITY;
}

BYTE toDcb(LineSettings::StopBits s)
{
    switch (s) {
    case LineSettings::StopBits::OneAndHalf: return ONE5STOPBITS;
    case LineSettings::StopBits::Two: return TWOSTOPBITS;
    case LineSettings::StopBits::One: break;
    }
    return ONESTOPBIT;
}

LineSettings fromDcb(const DCB &dcb)
{
    LineSettings line;
    line.baud = int(dcb.BaudRate);
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity == EVENPARITY    ? LineSettings::Parity::Even
                  : dcb.Parity == ODDPARITY   ? LineSettings::Parity::Odd
                  : dcb.Parity == MARKPARITY  ? LineSettings::Parity::Mark
                  : dcb.Parity == SPACEPARITY ? LineSettings::Parity::Space
                                              : LineSettings::Parity::None;
    line.stopBits = dcb.StopBits == ONE5STOPBITS  ? LineSettings::StopBits::OneAndHalf
                    : dcb.StopBits == TWOSTOPBITS ? LineSettings::StopBits::Two
                                                  : LineSettings::StopBits::One;
    return line;
}

} // namespace

WinSerialControl::WinSerialControl(PortNaming naming, QObject *parent)
    : BufferedSerialControl(parent), m_naming(std::move(naming)), m_io(std::make_unique<Io>())
{
    m_io->wait.notifier.setEnabled(false);
    m_io->write.notifier.setEnabled(false);
    m_io->read.notifier.setEnabled(false); // only ever waited for at once
    connect(&m_io->wait.notifier, &QWinEventNotifier::activated, this, &WinSerialControl::received);
    connect(&m_io->write.notifier, &QWinEventNotifier::activated, this, &WinSerialControl::written);
}

WinSerialControl::~WinSerialControl()
{
    closePort();
}

int WinSerialControl::openFailureCode(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_PATHNAME:
        return SerialCode::NoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialCode::PortInUse;
    default:
        return SerialCode::OpenFailed;
    }
}

bool WinSerialControl::portOpen() const
{
    return m_io->port != INVALID_HANDLE_VALUE;
}

int WinSerialControl::setCommPort(int number)
{
    if (portOpen())
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
    return portOpen() ? applyLine() : SerialCode::Ok;
}

int WinSerialControl::setHandshaking(int mode)
{
    if (mode != 0)
        return SerialCode::BadPropertyValue;
    return portOpen() ? applyLine() : SerialCode::Ok; // the line is set up without handshake
}

int WinSerialControl::setPortOpen(bool open)
{
    if (!open) {
        closePort();
        return SerialCode::Ok;
    }
    return portOpen() ? SerialCode::Ok : this->open();
}

int WinSerialControl::open()
{
    const QString device = m_naming.deviceFor(m_number);
    if (device.isEmpty())
        return SerialCode::NoSuchPort;
    // Windows' drivers give a port to one program at a time. Emulated ports (Wine's) may not,
    // so a panel also claims the port by name, and a second panel finds it held all the same.
    const QString claimName = QStringLiteral("Local\\pwmpanel-") + device.toUpper();
    const HANDLE claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(claimName.utf16()));
    if (!claim)
        return SerialCode::OpenFailed;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return SerialCode::PortInUse;
    }
    const QString path = QStringLiteral("\\\\.\\") + device;
    const HANDLE port = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(claim);
        return openFailureCode(error);
    }
    m_io->port = port;
    m_io->claim = claim;
    startAfresh();

    // Reads return at once with whatever is queued; writes have no time limit.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    int rc = applyLine();
    if (rc == SerialCode::Ok
        && !(SetCommTimeouts(port, &timeouts) && SetCommMask(port, EV_RXCHAR)))
        rc = SerialCode::LineSetupFailed;
    if (rc != SerialCode::Ok) {
        closePort();
        return rc;
    }
    m_io->wait.notifier.setEnabled(true);
    m_io->write.notifier.setEnabled(true);
    armWait();
    return portOpen() ? SerialCode::Ok : SerialCode::LinkLost;
}

// Speed, framing, no handshake, and the control lines as set; a parity error shows as '?'.
int WinSerialControl::applyLine()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_io->port, &dcb))
        return SerialCode::LineSetupFailed;
    dcb.BaudRate = DWORD(m_line.baud);
    dcb.ByteSize = BYTE(m_line.dataBits);
    dcb.Parity = toDcb(m_line.parity);
    dcb.StopBits = toDcb(m_line.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = m_line.parity != LineSettings::Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = m_dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = dcb.fParity;
    dcb.ErrorChar = '?';
    dcb.fNull = FALSE;
    dcb.fRtsControl = m_rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(m_io->port, &dcb) ? SerialCode::Ok : SerialCode::LineSetupFailed;
}

std::optional<WinSerialControl::DriverLine> WinSerialControl::driverLine() const
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!portOpen() || !GetCommState(m_io->port, &dcb))
        return std::nullopt;
    return DriverLine{fromDcb(dcb), dcb.fDtrControl == DTR_CONTROL_ENABLE, dcb.fRtsControl == RTS_CONTROL_ENABLE,
                      dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX
                          || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE};
}

// A line held off that the device has no wire for (a virtual port) is as good as held off.
int WinSerialControl::setDTREnable(bool on)
{
    m_dtr = on;
    if (!portOpen() || EscapeCommFunction(m_io->port, on ? SETDTR : CLRDTR) || !on)
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

int WinSerialControl::setRTSEnable(bool on)
{
    m_rts = on;
    if (!portOpen() || EscapeCommFunction(m_io->port, on ? SETRTS : CLRRTS) || !on)
        return SerialCode::Ok;
    return SerialCode::LineSetupFailed;
}

// Waits for received characters. Where the wait is over at once, its event is set, so that
// the bytes are read from the event loop like any others and a flood cannot hold it up.
void WinSerialControl::armWait()
{
    Pending &wait = m_io->wait;
    wait.restart();
    m_io->mask = 0;
    if (WaitCommEvent(m_io->port, &m_io->mask, &wait.ov)) {
        SetEvent(wait.ov.hEvent);
        return;
    }
    if (GetLastError() == ERROR_IO_PENDING)
        wait.busy = true;
    else
        lose(false);
}

// The wait is over: whatever the driver has queued is read, the next wait is armed, and the
// handler is told while that wait runs, so that it may pump events and see later bytes.
void WinSerialControl::received()
{
    Pending &wait = m_io->wait;
    if (!portOpen())
        return;
    DWORD unused = 0;
    if (wait.busy) {
        // A wait can be cut short (a change of the control lines ends it under Wine): the
        // bytes queued are read and the wait armed again, as after any other.
        const DWORD error = GetOverlappedResult(m_io->port, &wait.ov, &unused, FALSE) ? 0 : GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return;
        if (error != 0 && error != ERROR_OPERATION_ABORTED)
            return lose(false);
        wait.busy = false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_io->port, &errors, &status))
        return lose(false);
    QByteArray bytes;
    if (status.cbInQue > 0) {
        bytes.resize(qsizetype(status.cbInQue));
        Pending &read = m_io->read;
        read.restart();
        DWORD got = 0;
        bool ok = ReadFile(m_io->port, bytes.data(), status.cbInQue, &got, &read.ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(m_io->port, &read.ov, &got, TRUE); // the timeouts end it at once
        if (!ok)
            return lose(false);
        bytes.resize(qsizetype(got));
    }
    armWait();
    if (portOpen())
        receivedBytes(bytes);
}

int WinSerialControl::output(const QByteArray &bytes)
{
    if (!portOpen())
        return SerialCode::PortNotOpen;
    m_toWrite.append(bytes);
    if (m_io->write.busy)
        return SerialCode::Ok; // goes out after the one on its way
    return writeNext();
}

// Starts the next write waiting; what the driver takes at once is done with.
int WinSerialControl::writeNext()
{
    Pending &write = m_io->write;
    while (!m_toWrite.isEmpty()) {
        m_io->writing = m_toWrite.takeFirst();
        write.restart();
        DWORD put = 0;
        if (WriteFile(m_io->port, m_io->writing.constData(), DWORD(m_io->writing.size()), &put, &write.ov)) {
            if (qsizetype(put) < m_io->writing.size())
                m_toWrite.prepend(m_io->writing.mid(qsizetype(put)));
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            closePort();
            return SerialCode::WriteFailed;
        }
        write.busy = true;
        return SerialCode::Ok;
    }
    return SerialCode::Ok;
}

void WinSerialControl::written()
{
    Pending &write = m_io->write;
    if (!portOpen() || !write.busy)
        return;
    DWORD put = 0;
    if (!GetOverlappedResult(m_io->port, &write.ov, &put, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        write.busy = false;
        return lose(true);
    }
    write.busy = false;
    ResetEvent(write.ov.hEvent); // or the notifier would fire again and again
    if (qsizetype(put) < m_io->writing.size())
        m_toWrite.prepend(m_io->writing.mid(qsizetype(put)));
    if (writeNext() != SerialCode::Ok)
        emit writeFailed();
}

// The device failed under us: closed at once, said once.
void WinSerialControl::lose(bool refusedWrite)
{
    const bool unsent = refusedWrite || m_io->write.busy || !m_toWrite.isEmpty();
    closePort();
    if (unsent)
        emit writeFailed();
    else
        emit linkLost(SerialCode::LinkLost);
}

void WinSerialControl::closePort()
{
    Io &io = *m_io;
    if (io.port == INVALID_HANDLE_VALUE)
        return;
    // What is still on its way is cancelled and waited for, before its buffers go.
    CancelIo(io.port);
    DWORD unused = 0;
    for (Pending *p : {&io.wait, &io.write}) {
        if (p->busy)
            GetOverlappedResult(io.port, &p->ov, &unused, TRUE);
        p->busy = false;
        p->notifier.setEnabled(false);
        ResetEvent(p->ov.hEvent);
    }
    CloseHandle(io.port);
    io.port = INVALID_HANDLE_VALUE;
    CloseHandle(std::exchange(io.claim, nullptr));
    io.writing.clear();
    m_toWrite.clear();
}
