#pragma once

#include "bufferedserialcontrol.h"
#include "linesettings.h"
#include "portnaming.h"

#include <QSerialPort>

#include <functional>

// The serial control on a real port (QSerialPort). Received bytes are moved into an input
// buffer of our own as they arrive, and onComm() follows while any wait.
//
// A port whose node has no chip behind it (an unfitted ttyS) is no usable port. output()
// hands the bytes to the device before it returns, so a write the device refuses fails
// there; a refusal that still comes later is reported by writeFailed().
class QtSerialControl final : public BufferedSerialControl
{
    Q_OBJECT
public:
    // Tells whether the open descriptor has a chip behind it.
    using ChipCheck = std::function<bool(qintptr handle)>;

    explicit QtSerialControl(PortNaming naming, QObject *parent = nullptr);
    QtSerialControl(PortNaming naming, ChipCheck hasChip, QObject *parent = nullptr);

    int setCommPort(int number) override;
    int commPort() const override { return m_number; }
    int setSettings(const QString &text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override { return m_port.isOpen(); }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    int output(const QByteArray &bytes) override;

private:
    int open();
    int applyLine();
    void receive();
    void portError(QSerialPort::SerialPortError error);

    PortNaming m_naming;
    ChipCheck m_hasChip;
    QSerialPort m_port;
    bool m_writing = false;     // inside output()
    bool m_writeRefused = false; // the device refused bytes during output()
    int m_number = 1;
    LineSettings m_line;
};
