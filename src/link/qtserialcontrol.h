#pragma once

#include "linesettings.h"
#include "portnaming.h"
#include "serialcontrol.h"

#include <QSerialPort>

// The serial control on a real port (QSerialPort). Received bytes are moved into an input
// buffer of our own as they arrive, and onComm() follows while any wait.
class QtSerialControl final : public SerialControl
{
    Q_OBJECT
public:
    explicit QtSerialControl(PortNaming naming, QObject *parent = nullptr);

    int setCommPort(int number) override;
    int commPort() const override { return m_number; }
    int setSettings(const QString &text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override { return m_port.isOpen(); }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    int setRThreshold(int count) override;
    int setInputLen(int count) override;
    int output(const QByteArray &bytes) override;
    QByteArray input() override;
    int inBufferCount() const override;
    int commEvent() const override { return m_event; }

private:
    int open();
    int applyLine();
    void receive();
    void portError(QSerialPort::SerialPortError error);

    PortNaming m_naming;
    QSerialPort m_port;
    int m_number = 1;
    LineSettings m_line;
    int m_threshold = 0;
    int m_inputLen = 0;
    int m_event = 0;
    QByteArray m_in;      // received, not yet taken
    qsizetype m_inPos = 0; // bytes of m_in already taken
};
