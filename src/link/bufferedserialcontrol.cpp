#include "bufferedserialcontrol.h"

#include <algorithm>

int BufferedSerialControl::setRThreshold(int count)
{
    if (count < 0)
        return SerialCode::BadPropertyValue;
    m_threshold = count;
    return SerialCode::Ok;
}

int BufferedSerialControl::setInputLen(int count)
{
    if (count < 0)
        return SerialCode::BadPropertyValue;
    m_inputLen = count;
    return SerialCode::Ok;
}

QByteArray BufferedSerialControl::input()
{
    return m_in.take(m_inputLen);
}

QByteArray BufferedSerialControl::inputAll()
{
    return m_in.takeAll();
}

int BufferedSerialControl::inBufferCount() const
{
    return int(std::min<qsizetype>(m_in.size(), 32767));
}

void BufferedSerialControl::receivedBytes(QByteArrayView bytes)
{
    m_in.append(bytes);
    if (m_threshold > 0 && m_in.size() >= m_threshold) {
        m_event = EventReceive;
        emit onComm();
    }
}

void BufferedSerialControl::startAfresh()
{
    m_event = 0;
    m_in.clear();
}
