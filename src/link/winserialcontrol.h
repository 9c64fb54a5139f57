#pragma once

#include "bufferedserialcontrol.h"
#include "commdriver.h"
#include "linesettings.h"
#include "portnaming.h"

#include <QList>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

// The serial control on a Windows COM port, over the Win32 communications functions (behind
// CommDriver), all on the GUI thread. The port (\\.\COMn, so COM10 and above too) is opened
// for overlapped I/O.
//
// Receiving: a read for one byte stays on its way while the line is quiet, which costs
// nothing, and is over with the first byte; then everything the driver has queued is read at
// once, handed on, and the one-byte read armed again. (A wait for received characters ends at
// once under Wine, where the control lines of the device cannot be read, and its cancel may
// never end there on a real serial node.)
// Writing: writes go out whole and in the order given; while one is on its way, the next ones
// wait in a queue of ours of at most WriteQueueLimit bytes.
// Every operation, also one the driver finished at once, is taken up when its event is seen,
// from the event loop, and exactly once; an event seen set before the driver's status says
// the operation is over is looked at again after StatusRetry, without spinning.
//
// Codes: a port that does not exist 8002; one another program holds (sharing violation,
// access denied), or another panel 8005; line settings the driver refuses 8032; a write it
// refuses, makes no progress on within its time limit, or that would pass the queue's bound,
// 8033; a device that goes away while open 8034, whether a read or a write meets it first.
class WinSerialControl final : public BufferedSerialControl
{
    Q_OBJECT
public:
    static constexpr qsizetype ReadChunk = 16 * 1024;
    static constexpr qsizetype WriteQueueLimit = 64 * 1024;
    static constexpr std::chrono::milliseconds CancelGrace{200};
    static constexpr std::chrono::milliseconds StatusRetry{10};
    static constexpr unsigned long WriteLimitMs = 2000; // plus the line's time for the bytes

    WinSerialControl(PortNaming naming, std::unique_ptr<CommDriver> driver, QObject *parent = nullptr);
#ifdef Q_OS_WIN
    explicit WinSerialControl(PortNaming naming, QObject *parent = nullptr);
#endif
    ~WinSerialControl() override;

    int setCommPort(int number) override;
    int commPort() const override { return m_number; }
    int setSettings(const QString &text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override { return m_open; }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    int output(const QByteArray &bytes) override;

    // What a Win32 error from opening a port means to the panel.
    static int openFailureCode(unsigned long error);

    // The line as the driver holds it while the port is open.
    std::optional<CommDriver::Line> driverLine() const { return m_open ? m_driver->line() : std::nullopt; }

private:
    int open();
    int applyLine();
    void signalled(CommDriver::Op op);
    bool settled(CommDriver::Op op, CommDriver::Result &result);
    bool armRead();
    void readDone(const CommDriver::Result &result);
    int writeNext();
    void writeDone(const CommDriver::Result &result);
    int writeFailureCode();
    void lose();
    void closePort();

    PortNaming m_naming;
    std::unique_ptr<CommDriver> m_driver;
    int m_number = 1;
    LineSettings m_line;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_open = false;

    bool m_reading = false;
    QByteArray m_readBuffer;
    int m_emptyReads = 0; // reads over in a row without a byte (aborted, or empty)

    bool m_writing = false;
    QByteArray m_written;        // the write on its way
    QList<QByteArray> m_toWrite; // waiting for it
    qsizetype m_waitingBytes = 0;

    QTimer m_readRetry;
    QTimer m_writeRetry;
};
