#pragma once

#include "inputqueue.h"
#include "serialcontrol.h"

// What a serial control on a real port keeps of what it received, whatever the port: the bytes
// not yet taken, the receive threshold, the read size and the last event. A port layer hands
// each batch of received bytes to receivedBytes().
class BufferedSerialControl : public SerialControl
{
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    int setRThreshold(int count) final;
    int setInputLen(int count) final;
    QByteArray input() final;
    QByteArray inputAll() final;
    int inBufferCount() const final;
    int commEvent() const final { return m_event; }

protected:
    // Keeps `bytes`; onComm() follows while at least the threshold waits.
    void receivedBytes(QByteArrayView bytes);
    // The port was opened afresh: no event yet, nothing waiting.
    void startAfresh();

private:
    InputQueue m_in;
    int m_threshold = 0;
    int m_inputLen = 0;
    int m_event = 0;
};
