#pragma once

#include "bufferedserialcontrol.h"
#include "linesettings.h"
#include "portnaming.h"

#include <QList>

#include <memory>
#include <optional>

// The serial control on a Windows COM port, over the Win32 communications functions, all on
// the GUI thread. The port (\\.\COMn, so COM10 and above too) is opened for overlapped I/O. A
// WaitCommEvent for received characters signals an event that a QWinEventNotifier watches; its
// handler reads what the driver has queued, waits again and raises onComm(). Writes are
// overlapped as well, and go out whole and in the order given: while one is on its way, the
// next ones wait in a queue of ours.
//
// Codes: a port that does not exist 8002; one another program holds (sharing violation,
// access denied), or another panel 8005; line settings the driver refuses 8032; a write it
// refuses 8033; a device that goes away while open 8034.
class WinSerialControl final : public BufferedSerialControl
{
    Q_OBJECT
public:
    explicit WinSerialControl(PortNaming naming, QObject *parent = nullptr);
    ~WinSerialControl() override;

    int setCommPort(int number) override;
    int commPort() const override { return m_number; }
    int setSettings(const QString &text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override;
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    int output(const QByteArray &bytes) override;

    // What a Win32 error from opening a port means to the panel.
    static int openFailureCode(unsigned long error);

    // The line as the driver holds it while the port is open (GetCommState).
    struct DriverLine {
        LineSettings line;
        bool dtrOn = false;
        bool rtsOn = false;
        bool flowControl = false; // any handshake: CTS, DSR or XON/XOFF
    };
    std::optional<DriverLine> driverLine() const;

private:
    struct Io;

    int open();
    int applyLine();
    void armWait();
    void received();
    int writeNext();
    void written();
    void lose(bool refusedWrite);
    void closePort();

    PortNaming m_naming;
    std::unique_ptr<Io> m_io;
    int m_number = 1;
    LineSettings m_line;
    bool m_dtr = false;
    bool m_rts = false;
    QList<QByteArray> m_toWrite; // waiting for the write on its way
};
