#pragma once

#include "link/commdriver.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <algorithm>
#include <cstring>
#include <utility>

// A CommDriver whose device the test plays, as strict as Windows. Operations end when the
// script says (bytes fed, a write finished, a failure), or at once where the script's modes say
// so; a read, its timeouts all zero, ends only with its full count (or failed or cancelled, with
// what it has). A handle not open refuses every call to it, as a closed handle does
// (ERROR_INVALID_HANDLE), and counts it. A set event is reported as Qt 6's QWinEventNotifier
// does: from the event loop while watched, and again after each notice for as long as the event
// stays set, but never from inside a notice of the same operation: its wait is registered again
// only when the handler has returned (or the handler watched it afresh).
class ScriptedDriver final : public CommDriver
{
public:
    struct Operation {
        bool started = false, over = false, event = false, watched = false, posted = false;
        bool registered = false; // the notifier's wait: off while its notice is handled
        Result end;
        char *buffer = nullptr; // a read's destination
        unsigned long capacity = 0, filled = 0;
        QByteArray given;       // a write's bytes
        int statusLag = 0;      // result() calls that still say IoIncomplete after the event
        int notices = 0;
    };
    enum class WriteMode { AtOnce, Later, Nothing };

    // The script.
    unsigned long openError = 0;
    unsigned long writeError = 0;      // startWrite refuses with it
    bool gone = false;                 // the device is unplugged: queued() and writes fail
    WriteMode writeMode = WriteMode::AtOnce;
    unsigned long partialOnce = 0;     // the next write takes only this many bytes
    int statusLag = 0;                 // the next completion's status trails its event this long
    bool cancelEnds = true;            // a cancel ends what is on its way, as aborted
    QByteArray incoming;               // received by the device, not yet read
    // What happened.
    QByteArray device;                 // what the writes put on the line
    QList<std::pair<unsigned long, unsigned long>> timeouts; // a write's ms a byte, its limit
    int refused = 0;                   // calls on a handle not open
    QList<QByteArray> abandoned;
    char *abandonedRead = nullptr; // where the abandoned read still writes
    unsigned long cancelWait = 0;
    bool closedWithOperationOnItsWay = false;
    Operation ops[2];

    Operation &op(Op o) { return ops[int(o)]; }
    bool anyPosted() const { return ops[0].posted || ops[1].posted; }

    // The device receives bytes; a read on its way ends with them.
    void feed(const QByteArray &bytes)
    {
        incoming += bytes;
        if (m_open && op(Op::Read).started && !op(Op::Read).over)
            takeIncoming();
    }
    void finishWrite(unsigned long error = 0)
    {
        Operation &w = op(Op::Write);
        if (!error)
            device += w.given;
        finish(Op::Write, {error, error ? 0 : static_cast<unsigned long>(w.given.size())});
    }
    // The read on its way ends with `error` (an unplug, an abort), with what it had.
    void failRead(unsigned long error) { finish(Op::Read, {error, op(Op::Read).filled}); }
    // An old notice, given while the event is clear.
    void staleNotice(Op o) { deliver(o, true); }

    unsigned long open(const QString &) override
    {
        if (openError)
            return openError;
        for (Operation &o : ops)
            o = fresh(o);
        m_open = true;
        return 0;
    }
    void close() override
    {
        for (const Operation &o : ops)
            closedWithOperationOnItsWay |= o.started && !o.over;
        m_open = false;
    }
    bool setLine(const LineSettings &, bool, bool) override { return handle(); }
    bool setDtr(bool) override { return handle(); }
    bool setRts(bool) override { return handle(); }
    bool setTimeouts(unsigned long writeMsPerByte, unsigned long writeLimitMs) override
    {
        timeouts.append({writeMsPerByte, writeLimitMs});
        return handle();
    }
    std::optional<Line> line() const override { return std::nullopt; }
    bool queued(unsigned long &count, unsigned long &error) override
    {
        error = !handle() ? InvalidHandle : 21; // ERROR_NOT_READY, as Wine says for a vanished device
        count = static_cast<unsigned long>(incoming.size());
        return m_open && !gone;
    }
    unsigned long startRead(char *buffer, unsigned long size) override
    {
        if (!handle())
            return InvalidHandle;
        Operation &r = start(Op::Read);
        r.buffer = buffer;
        r.capacity = size;
        return takeIncoming() ? 0 : IoPending;
    }
    unsigned long startWrite(const char *bytes, unsigned long size) override
    {
        if (!handle())
            return InvalidHandle;
        if (gone || writeError)
            return gone ? 21 : writeError;
        Operation &w = start(Op::Write);
        w.given = QByteArray(bytes, size);
        if (writeMode == WriteMode::Later)
            return IoPending;
        const unsigned long put = writeMode == WriteMode::Nothing ? 0 : partialOnce ? partialOnce : size;
        partialOnce = 0;
        device += w.given.first(put);
        finish(Op::Write, {0, put});
        return 0;
    }
    Result result(Op o) override
    {
        Operation &x = op(o);
        if (!x.started || !x.over || x.statusLag-- > 0) {
            x.event = x.event && x.started; // an operation not started leaves no event set
            return {x.started ? IoIncomplete : 0, 0};
        }
        x.started = x.event = false;
        return x.end;
    }
    bool isSignalled(Op o) override { return op(o).event; }
    // A pause away from the event lets a trailing status arrive, as Wine's does.
    void watch(Op o, bool on) override
    {
        Operation &x = op(o);
        if (x.watched == on)
            return;
        x.watched = x.registered = on;
        if (!on)
            x.statusLag = 0;
        post(o);
    }
    bool cancel(unsigned long ms) override
    {
        if (!handle())
            return false;
        cancelWait = ms;
        for (Op o : {Op::Read, Op::Write})
            if (op(o).started && !op(o).over && cancelEnds)
                finish(o, {OperationAborted, op(o).filled});
        return cancelEnds;
    }
    void abandon(Op o, QByteArray buffer) override
    {
        abandoned.append(buffer);
        if (o == Op::Read)
            abandonedRead = op(o).buffer;
        op(o) = Operation{};
    }

private:
    static constexpr unsigned long InvalidHandle = 6; // ERROR_INVALID_HANDLE

    bool handle()
    {
        refused += !m_open;
        return m_open;
    }
    // An operation afresh, on the same notifier.
    static Operation fresh(const Operation &x)
    {
        Operation f;
        f.watched = x.watched;
        f.posted = x.posted;
        f.registered = x.registered;
        f.notices = x.notices;
        return f;
    }
    Operation &start(Op o)
    {
        Operation &x = op(o) = fresh(op(o));
        x.started = true;
        return x;
    }
    // The read on its way takes what has come, and is over when it has its full count.
    bool takeIncoming()
    {
        Operation &r = op(Op::Read);
        const auto n = std::min<qsizetype>(incoming.size(), qsizetype(r.capacity - r.filled));
        std::memcpy(r.buffer + r.filled, incoming.constData(), size_t(n));
        incoming.remove(0, n);
        r.filled += static_cast<unsigned long>(n);
        if (r.filled < r.capacity)
            return false;
        finish(Op::Read, {0, r.filled});
        return true;
    }
    void finish(Op o, Result end)
    {
        Operation &x = op(o);
        x.over = x.event = true;
        x.end = end;
        x.statusLag = std::exchange(statusLag, 0);
        post(o);
    }
    void post(Op o)
    {
        Operation &x = op(o);
        if (!x.registered || !x.event || x.posted)
            return;
        x.posted = true;
        QMetaObject::invokeMethod(&m_context, [this, o] { deliver(o, false); }, Qt::QueuedConnection);
    }
    void deliver(Op o, bool stale)
    {
        Operation &x = op(o);
        x.posted = x.posted && stale;
        if (!x.watched || (!x.event && !stale))
            return;
        ++x.notices;
        x.registered = false;
        signalled(o);
        if (op(o).watched && !op(o).registered) {
            op(o).registered = true;
            post(o);
        }
    }

    bool m_open = false;
    QObject m_context;
};
