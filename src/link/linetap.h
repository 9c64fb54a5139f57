#pragma once

#include <QByteArrayView>

// What wants to see every line that crosses the link, in order: each received line and each
// command handed to the port, both without their CR; a command with the client of the share it
// came from (0: the panel's own). A received line that was `cut` was longer
// than the link keeps: the bytes are its beginning.
class LineTap
{
public:
    virtual ~LineTap() = default;

    virtual void lineReceived(QByteArrayView line, bool cut) = 0;
    virtual void commandSent(QByteArrayView command, int client) = 0;
    // Every line of one read has been handled; the link goes back to the event loop.
    virtual void receiveDone() = 0;
};
