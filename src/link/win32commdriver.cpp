#include "win32commdriver.h"

#include <QWinEventNotifier>

#include <windows.h>

#include <utility>

// The notifier goes with deleteLater(): an operation may be let go (closed, abandoned, reaped)
// from inside its own notifier's activated(), and Qt's notifier is not to be destroyed there.
struct Win32CommDriver::Pending {
    OVERLAPPED ov{};
    QWinEventNotifier *notifier;
    bool started = false;

    Pending() : notifier(new QWinEventNotifier(ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr)))
    {
        notifier->setEnabled(false);
    }
    ~Pending()
    {
        notifier->setEnabled(false); // no wait on the event after this
        notifier->deleteLater();
        CloseHandle(ov.hEvent);
    }
    void start()
    {
        const HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
        ResetEvent(event);
        started = true;
    }
};

struct Win32CommDriver::Left {
    std::unique_ptr<Pending> pending;
    QByteArray buffer;
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

Win32CommDriver::Win32CommDriver()
    : m_port(INVALID_HANDLE_VALUE), m_read(makePending(Op::Read)), m_write(makePending(Op::Write))
{
}

Win32CommDriver::~Win32CommDriver()
{
    close();
    // An operation that never ended may still write to what it was given: that stays.
    for (Left &left : m_left) {
        (void)left.pending.release();
        (void)new QByteArray(std::move(left.buffer));
    }
}

std::unique_ptr<Win32CommDriver::Pending> Win32CommDriver::makePending(Op op)
{
    auto p = std::make_unique<Pending>();
    QObject::connect(p->notifier, &QWinEventNotifier::activated, p->notifier, [this, op] {
        if (signalled)
            signalled(op);
    });
    return p;
}

unsigned long Win32CommDriver::open(const QString &device)
{
    forgetFinishedLeft();
    // Windows' drivers give a port to one program at a time. Emulated ports (Wine's) may not,
    // so a panel also claims the port by name, and a second panel finds it held all the same.
    const QString claimName = QStringLiteral("Local\\pwmpanel-") + device.toUpper();
    const HANDLE claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(claimName.utf16()));
    if (!claim)
        return GetLastError(); // access denied: a panel running elevated holds it
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return ERROR_ALREADY_EXISTS;
    }
    const QString path = QStringLiteral("\\\\.\\") + device;
    const HANDLE port = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(claim);
        return error;
    }
    m_port = port;
    m_claim = claim;
    for (Pending *p : {m_read.get(), m_write.get()}) {
        p->started = false;
        ResetEvent(p->ov.hEvent);
    }
    return 0;
}

void Win32CommDriver::close()
{
    watch(Op::Read, false);
    watch(Op::Write, false);
    if (m_port != INVALID_HANDLE_VALUE)
        CloseHandle(std::exchange(m_port, INVALID_HANDLE_VALUE));
    if (m_claim)
        CloseHandle(std::exchange(m_claim, nullptr));
    forgetFinishedLeft();
}

// Speed, framing, no handshake, and the control lines as given; a parity error shows as '?'.
bool Win32CommDriver::setLine(const LineSettings &line, bool dtr, bool rts)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_port, &dcb))
        return false;
    dcb.BaudRate = DWORD(line.baud);
    dcb.ByteSize = BYTE(line.dataBits);
    dcb.Parity = toDcb(line.parity);
    dcb.StopBits = toDcb(line.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != LineSettings::Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = dcb.fParity;
    dcb.ErrorChar = '?';
    dcb.fNull = FALSE;
    dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(m_port, &dcb);
}

bool Win32CommDriver::setDtr(bool on)
{
    return EscapeCommFunction(m_port, on ? SETDTR : CLRDTR);
}

bool Win32CommDriver::setRts(bool on)
{
    return EscapeCommFunction(m_port, on ? SETRTS : CLRRTS);
}

bool Win32CommDriver::setTimeouts(unsigned long writeMsPerByte, unsigned long writeLimitMs)
{
    COMMTIMEOUTS timeouts{}; // reads: no time limit
    timeouts.WriteTotalTimeoutMultiplier = writeMsPerByte;
    timeouts.WriteTotalTimeoutConstant = writeLimitMs;
    return SetCommTimeouts(m_port, &timeouts);
}

std::optional<CommDriver::Line> Win32CommDriver::line() const
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_port, &dcb))
        return std::nullopt;
    return Line{fromDcb(dcb), dcb.fDtrControl == DTR_CONTROL_ENABLE, dcb.fRtsControl == RTS_CONTROL_ENABLE,
                dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX
                    || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE};
}

bool Win32CommDriver::queued(unsigned long &count, unsigned long &error)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_port, &errors, &status)) {
        error = GetLastError();
        return false;
    }
    count = status.cbInQue;
    return true;
}

unsigned long Win32CommDriver::startRead(char *buffer, unsigned long size)
{
    Pending &p = *m_read;
    p.start();
    return started(p, ReadFile(m_port, buffer, size, nullptr, &p.ov));
}

unsigned long Win32CommDriver::startWrite(const char *bytes, unsigned long size)
{
    Pending &p = *m_write;
    p.start();
    return started(p, WriteFile(m_port, bytes, size, nullptr, &p.ov));
}

// 0 when the operation is over at once, else the error: on its way with IoPending only.
unsigned long Win32CommDriver::started(Pending &p, bool overAtOnce)
{
    if (overAtOnce)
        return 0;
    const DWORD error = GetLastError();
    p.started = error == ERROR_IO_PENDING;
    return error;
}

CommDriver::Result Win32CommDriver::result(Op op)
{
    Pending &p = pending(op);
    Result r;
    DWORD bytes = 0;
    if (p.started && !GetOverlappedResult(m_port, &p.ov, &bytes, FALSE))
        r.error = GetLastError();
    r.bytes = bytes;
    if (r.error != ERROR_IO_INCOMPLETE) {
        p.started = false;
        ResetEvent(p.ov.hEvent);
    }
    return r;
}

bool Win32CommDriver::isSignalled(Op op)
{
    return WaitForSingleObject(pending(op).ov.hEvent, 0) == WAIT_OBJECT_0;
}

void Win32CommDriver::watch(Op op, bool on)
{
    pending(op).notifier->setEnabled(on);
}

bool Win32CommDriver::cancel(unsigned long ms)
{
    CancelIo(m_port);
    const ULONGLONG deadline = GetTickCount64() + ms;
    bool over = true;
    for (Pending *p : {m_read.get(), m_write.get()}) {
        if (!p->started)
            continue;
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
        over = WaitForSingleObject(p->ov.hEvent, left) == WAIT_OBJECT_0 && over;
    }
    return over;
}

void Win32CommDriver::abandon(Op op, QByteArray buffer)
{
    std::unique_ptr<Pending> &slot = op == Op::Read ? m_read : m_write;
    slot->notifier->setEnabled(false);
    m_left.push_back(Left{std::exchange(slot, makePending(op)), std::move(buffer)});
}

// Abandoned operations that have ended since are let go.
void Win32CommDriver::forgetFinishedLeft()
{
    m_left.remove_if([](const Left &left) {
        return WaitForSingleObject(left.pending->ov.hEvent, 0) == WAIT_OBJECT_0
               && left.pending->ov.Internal != STATUS_PENDING;
    });
}
