#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The Win32 communications calls the Windows serial layer makes, as a seam: the layer's logic
// (WinSerialControl) runs on the real calls on Windows, and against a scripted driver in the
// tests on any platform. Errors are Win32 error numbers, as GetLastError() gives them.
//
// There are two overlapped operations, the read and the write, each with its own event: an
// operation is started, the driver reports through `signalled` (from the event loop, never
// from inside a call, nor while the last report of the same operation is being handled) that
// its event is set, and result() then tells whether it is over.
class CommDriver
{
public:
    enum class Op { Read, Write };

    // The Win32 error numbers the layer tells apart.
    static constexpr unsigned long AccessDenied = 5;        // ERROR_ACCESS_DENIED
    static constexpr unsigned long SharingViolation = 32;   // ERROR_SHARING_VIOLATION
    static constexpr unsigned long AlreadyExists = 183;     // ERROR_ALREADY_EXISTS
    static constexpr unsigned long OperationAborted = 995;  // ERROR_OPERATION_ABORTED
    static constexpr unsigned long IoIncomplete = 996;      // ERROR_IO_INCOMPLETE
    static constexpr unsigned long IoPending = 997;         // ERROR_IO_PENDING

    struct Result {
        unsigned long error = 0; // 0: over, with `bytes`; IoIncomplete: not over yet
        unsigned long bytes = 0;
    };

    virtual ~CommDriver() = default;

    // Opens the device for overlapped I/O and claims it for this program: 0, or the error.
    virtual unsigned long open(const QString &device) = 0;
    // Closes the device and gives up the claim. Nothing may be on its way any more, or it was
    // handed to abandon().
    virtual void close() = 0;

    // The line as given, without handshake, with the control lines as given (SetCommState).
    virtual bool setLine(const LineSettings &line, bool dtr, bool rts) = 0;
    virtual bool setDtr(bool on) = 0;
    virtual bool setRts(bool on) = 0;
    // Reads wait for the bytes asked for, without a time limit; a write the device has not
    // finished after `writeLimitMs` (plus `writeMsPerByte` for each byte) ends with what went.
    virtual bool setTimeouts(unsigned long writeMsPerByte, unsigned long writeLimitMs) = 0;

    // The line as the driver holds it while the device is open (GetCommState).
    struct Line {
        LineSettings line;
        bool dtrOn = false;
        bool rtsOn = false;
        bool flowControl = false; // any handshake: CTS, DSR or XON/XOFF
    };
    virtual std::optional<Line> line() const = 0;

    // ClearCommError: the bytes received and waiting, or false with `error` set.
    virtual bool queued(unsigned long &count, unsigned long &error) = 0;

    // ReadFile / WriteFile into or from the caller's buffer, which must stay as it is until the
    // operation is over: 0 (done at once), IoPending, or the error. Either way but an error,
    // the operation's event is set when it is over.
    virtual unsigned long startRead(char *buffer, unsigned long size) = 0;
    virtual unsigned long startWrite(const char *bytes, unsigned long size) = 0;
    // GetOverlappedResult without waiting. A result that is over clears the event.
    virtual Result result(Op op) = 0;
    // Whether the operation's event is set now.
    virtual bool isSignalled(Op op) = 0;
    // Whether `signalled` is called for this operation's event.
    virtual void watch(Op op, bool on) = 0;

    // CancelIo, then waits at most `ms` for the operations on their way to be over; false
    // when one is not.
    virtual bool cancel(unsigned long ms) = 0;
    // An operation that did not end when cancelled: the driver keeps `buffer` and what the
    // operation writes to until it is over, and gives the operation fresh ones.
    virtual void abandon(Op op, QByteArray buffer) = 0;

    // Set by the layer: an operation's event was seen set.
    std::function<void(Op)> signalled;
};
