#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The program's serial port, as the window's handlers use it. Every operation that can fail
// returns 0 on success or one of the codes below; nothing throws.
namespace SerialCode {
inline constexpr int Ok = 0;
inline constexpr int BadPropertyValue = 380;   // a port number below 1
inline constexpr int NotWhileOpen = 8000;      // the port number changed while the port is open
inline constexpr int NoSuchPort = 8002;        // the number names no usable port
inline constexpr int PortInUse = 8005;         // another program (or another panel) holds it
inline constexpr int BadSettings = 8015;       // a settings text the port cannot use
inline constexpr int PortNotOpen = 8018;       // a write while the port is closed
inline constexpr int AccessDenied = 8030;      // the user may not open the device (dialout group)
inline constexpr int OpenFailed = 8031;        // any other failure to open
inline constexpr int LineSetupFailed = 8032;   // speed, framing or control lines refused
inline constexpr int WriteFailed = 8033;       // the write was refused
inline constexpr int LinkLost = 8034;          // the device went away while open
} // namespace SerialCode

class SerialControl : public QObject
{
    Q_OBJECT
public:
    static constexpr int EventReceive = 2;

    using QObject::QObject;

    virtual int setCommPort(int number) = 0;          // only while closed; below 1 is refused
    virtual int commPort() const = 0;
    virtual int setSettings(const QString &text) = 0; // "9600,n,8,1"; checked at once
    virtual int setHandshaking(int mode) = 0;         // 0: none
    virtual bool portOpen() const = 0;
    virtual int setPortOpen(bool open) = 0;
    virtual int setDTREnable(bool on) = 0;
    virtual int setRTSEnable(bool on) = 0;
    virtual int setRThreshold(int count) = 0;          // 1: onComm whenever a byte waits
    virtual int setInputLen(int count) = 0;            // bytes per input(); 0: all waiting
    virtual int output(const QByteArray &bytes) = 0;   // one write, in order; a refusal closes the port
    virtual QByteArray input() = 0;                    // takes up to InputLen waiting bytes
    virtual QByteArray inputAll() = 0;                 // takes every waiting byte at once
    virtual int inBufferCount() const = 0;
    virtual int commEvent() const = 0;

signals:
    // Received bytes wait (CommEvent is EventReceive). Delivered through the event loop.
    void onComm();
    // The open port failed under us (device unplugged, peer closed). The port is already closed.
    void linkLost(int code);
    // The device refused bytes that an earlier output() had accepted. The port is already
    // closed.
    void writeFailed();
};
