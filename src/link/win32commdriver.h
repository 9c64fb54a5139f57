#pragma once

#include "commdriver.h"

#include <list>
#include <memory>

// CommDriver on the Win32 communications functions. Each operation has an OVERLAPPED with a
// manual-reset event, which a QWinEventNotifier watches on the GUI thread; a result that is
// over resets the event, so one completion is reported once.
class Win32CommDriver final : public CommDriver
{
public:
    Win32CommDriver();
    ~Win32CommDriver() override;

    unsigned long open(const QString &device) override;
    void close() override;
    bool setLine(const LineSettings &line, bool dtr, bool rts) override;
    bool setDtr(bool on) override;
    bool setRts(bool on) override;
    bool setTimeouts(unsigned long writeMsPerByte, unsigned long writeLimitMs) override;
    std::optional<Line> line() const override;
    bool queued(unsigned long &count, unsigned long &error) override;
    unsigned long startRead(char *buffer, unsigned long size) override;
    unsigned long startWrite(const char *bytes, unsigned long size) override;
    Result result(Op op) override;
    bool isSignalled(Op op) override;
    void watch(Op op, bool on) override;
    bool cancel(unsigned long ms) override;
    void abandon(Op op, QByteArray buffer) override;

private:
    struct Pending;
    struct Left;

    std::unique_ptr<Pending> makePending(Op op);
    static unsigned long started(Pending &p, bool overAtOnce);
    Pending &pending(Op op) { return *(op == Op::Read ? m_read : m_write); }
    void forgetFinishedLeft();

    void *m_port;          // HANDLE
    void *m_claim = nullptr; // the named mutex that says a panel has the port
    std::unique_ptr<Pending> m_read;
    std::unique_ptr<Pending> m_write;
    std::list<Left> m_left; // abandoned operations, kept until they are over
};
