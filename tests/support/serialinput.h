#pragma once

#include "link/serialcontrol.h"

// Takes what waits one input() at a time, as a handler with InputLen 1 does, into `got`;
// false when a take brings other than one byte.
inline bool takeOneByOne(SerialControl &s, QByteArray &got)
{
    while (s.inBufferCount() > 0) {
        const QByteArray one = s.input();
        if (one.size() != 1)
            return false;
        got += one;
    }
    return true;
}
