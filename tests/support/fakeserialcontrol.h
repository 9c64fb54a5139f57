#pragma once

#include "link/linesettings.h"
#include "link/serialcontrol.h"

#include <QHash>
#include <QMetaObject>
#include <QStringList>

#include <utility>

// An in-memory serial control: records every operation and every write, lets a test feed
// received bytes (delivered through the event loop, as a real port does) and make any
// operation fail with a chosen code.
class FakeSerialControl final : public SerialControl
{
public:
    QStringList calls;          // "open", "settings 9600,n,8,1", "dtr 0", "output I?\r", ...
    QList<QByteArray> written;  // successful output() calls, in order
    QHash<QString, int> failing; // operation name ("open", "settings", "dtr", ...) -> code
    int openCount = 0;

    int setCommPort(int number) override
    {
        calls << QStringLiteral("commport %1").arg(number);
        if (m_open)
            return SerialCode::NotWhileOpen;
        if (number < 1)
            return SerialCode::BadPropertyValue;
        m_port = number;
        return fail("commport");
    }
    int commPort() const override { return m_port; }
    int setSettings(const QString &text) override
    {
        calls << QStringLiteral("settings ") + text;
        if (!LineSettings::parse(text))
            return SerialCode::BadSettings;
        settings = text;
        return fail("settings");
    }
    int setHandshaking(int mode) override { return record("handshaking", mode); }
    bool portOpen() const override { return m_open; }
    int setPortOpen(bool open) override
    {
        if (!open) {
            calls << QStringLiteral("close");
            m_open = false;
            return SerialCode::Ok;
        }
        calls << QStringLiteral("open");
        if (const int rc = fail("open"))
            return rc;
        m_open = true;
        ++openCount;
        return SerialCode::Ok;
    }
    int setDTREnable(bool on) override { return record("dtr", on); }
    int setRTSEnable(bool on) override { return record("rts", on); }
    int setRThreshold(int count) override { return record("rthreshold", count); }
    int setInputLen(int count) override { return record("inputlen", count); }
    int output(const QByteArray &bytes) override
    {
        calls << QStringLiteral("output ") + QString::fromLatin1(bytes);
        if (!m_open)
            return SerialCode::PortNotOpen;
        if (const int rc = fail("output")) {
            m_open = false; // a refusal closes the port, as SerialControl says
            return rc;
        }
        written << bytes;
        return SerialCode::Ok;
    }
    QByteArray input() override
    {
        const QByteArray taken = m_in.left(m_inputLen > 0 ? m_inputLen : m_in.size());
        m_in.remove(0, taken.size());
        return taken;
    }
    QByteArray inputAll() override { return std::exchange(m_in, QByteArray()); }
    int inBufferCount() const override { return int(m_in.size()); }
    int commEvent() const override { return m_event; }

    // Bytes from the board, with the receive event queued like a real port's.
    void feed(const QByteArray &bytes)
    {
        m_in += bytes;
        m_event = EventReceive;
        QMetaObject::invokeMethod(this, &SerialControl::onComm, Qt::QueuedConnection);
    }
    // Runs the receive event now (the test then needs no event loop).
    void feedNow(const QByteArray &bytes)
    {
        m_in += bytes;
        m_event = EventReceive;
        emit onComm();
    }
    void loseLink()
    {
        m_open = false;
        emit linkLost(SerialCode::LinkLost);
    }
    // The device refuses bytes that output() had taken.
    void refuseLastWrite()
    {
        m_open = false;
        emit writeFailed();
    }
    QStringList writtenText() const
    {
        QStringList out;
        for (const QByteArray &b : written)
            out << QString::fromLatin1(b);
        return out;
    }

    QString settings;

private:
    int fail(const char *op) const { return failing.value(QLatin1String(op), SerialCode::Ok); }
    int record(const char *op, int value)
    {
        calls << QStringLiteral("%1 %2").arg(QLatin1String(op)).arg(value);
        if (op == QByteArrayView("inputlen") && !fail(op))
            m_inputLen = value;
        return fail(op);
    }

    int m_port = 1;
    bool m_open = false;
    int m_inputLen = 0;
    int m_event = 0;
    QByteArray m_in;
};
