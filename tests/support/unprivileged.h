#pragma once

#include <QString>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#include <unistd.h>
#endif

// File access as an ordinary user for as long as it lives, also when the tests run as root
// (as CI does): a root thread's filesystem user becomes "nobody", which drops its power to
// write where permissions forbid. Only the calling thread is affected.
class Unprivileged
{
public:
    static constexpr unsigned Nobody = 65534;

    Unprivileged()
    {
#ifdef Q_OS_LINUX
        if (::geteuid() == 0) {
            ::setfsuid(Nobody);
            m_dropped = int(::setfsuid(unsigned(-1))) == int(Nobody);
        }
#endif
    }
    ~Unprivileged()
    {
#ifdef Q_OS_LINUX
        if (m_dropped)
            ::setfsuid(0);
#endif
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    bool m_dropped = false;
};
