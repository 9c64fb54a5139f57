#pragma once

#include <csignal>

#include <sys/resource.h>

// A full disk, also for root, for as long as it lives: files this process (and what it starts
// meanwhile) writes cannot grow past `bytes`. A write() across the limit writes up to it and
// returns the part it wrote; the next one fails with EFBIG, "File too large". SIGXFSZ is
// ignored meanwhile, so that reaching the limit does not end the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldXfsz = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_old.rlim_max};
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldXfsz);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldXfsz)(int) = SIG_DFL;
    bool m_set = false;
};
