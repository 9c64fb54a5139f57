#pragma once

#include <csignal>

#include <sys/resource.h>

// A full disk, also for root, while it lives: files this process (and what it starts meanwhile)
// writes cannot grow past `bytes`. A write() across the limit writes up to it and returns that
// part; the next fails with EFBIG. SIGXFSZ is ignored meanwhile, lest the limit end the process.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : oldXfsz(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{bytes, old.rlim_max};
        set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldXfsz);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    void (*oldXfsz)(int);
    rlimit old{};
    bool set = false;
};
