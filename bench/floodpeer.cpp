// floodpeer: plays a flooding board on a pseudo-terminal for bench/compare-flood, and
// measures the program that reads it.
//
//   floodpeer --make FILE [--mib N]
//       writes N MiB (default 10) of CR-ended reply lines: setpoint, frequency and process
//       value reports and text lines of about 80 characters, values varying.
//   floodpeer --link PATH --pid PID --flood FILE [--answer NAME] [--settle MS]
//       links a new pty's slave at PATH; waits until process PID holds it open (answering
//       "I?" with NAME meanwhile, when given), lets it settle, writes FILE as fast as the pty
//       takes it, waits until everything is read and the process is idle again, and prints
//       one line: cpu_s=, drain_s=, mib=, rss_before_kb=, rss_after_kb=, rss_settled_kb=.
//
// Plain POSIX; no Qt, so that it costs the measured program nothing.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "floodpeer: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

int makeFlood(const char *path, int mib)
{
    FILE *f = std::fopen(path, "wb");
    if (!f)
        fail(path);
    const long long target = static_cast<long long>(mib) << 20;
    long long written = 0;
    unsigned n = 0;
    char line[160];
    while (written < target) {
        const unsigned v = (n * 2654435761u) >> 7;
        switch (n % 5) {
        case 0: std::snprintf(line, sizeof line, "SV11=%u\r", v % 101); break;
        case 1: std::snprintf(line, sizeof line, "SV21=%u.5\r", v % 100); break;
        case 2: std::snprintf(line, sizeof line, "SV01=%u\r", 1 + v % 7); break;
        case 3: std::snprintf(line, sizeof line, "PV01=%u.%u\r", v % 100, v % 10); break;
        default:
            std::snprintf(line, sizeof line,
                          "Status report %08u: supply ok, temperature %u.%u C, duty %u %%, "
                          "run %u min\r",
                          n, v % 90, v % 10, v % 101, v % 10000);
        }
        const size_t len = std::strlen(line);
        std::fwrite(line, 1, len, f);
        written += static_cast<long long>(len);
        ++n;
    }
    std::fclose(f);
    std::printf("lines=%u bytes=%lld\n", n, written);
    return 0;
}

// User plus system CPU of `pid` in seconds, or -1.
double cpuSeconds(int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE *f = std::fopen(path, "r");
    if (!f)
        return -1;
    char buf[4096];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    const char *p = std::strrchr(buf, ')');
    if (!p)
        return -1;
    unsigned long utime = 0, stime = 0;
    // After ") ": state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long rssKb(int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE *f = std::fopen(path, "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kb;
}

bool holdsOpen(int pid, const std::string &device)
{
    char dir[64];
    std::snprintf(dir, sizeof dir, "/proc/%d/fd/", pid);
    for (int fd = 0; fd < 1024; ++fd) {
        char link[80], target[256];
        std::snprintf(link, sizeof link, "%s%d", dir, fd);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (device == target)
            return true;
    }
    return false;
}

// Reads whatever the program sent; answers "I?" when a name is given.
void serveCommands(int master, std::string &pending, const char *name)
{
    char buf[512];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            return;
        pending.append(buf, size_t(n));
        size_t cr;
        while ((cr = pending.find('\r')) != std::string::npos) {
            const std::string cmd = pending.substr(0, cr);
            pending.erase(0, cr + 1);
            if (name && cmd == "I?") {
                const std::string reply = std::string(name) + "\r";
                (void)!write(master, reply.data(), reply.size());
            }
        }
    }
}

int flood(const char *linkPath, int pid, const char *file, const char *name, int settleMs)
{
    std::vector<char> bytes;
    {
        FILE *f = std::fopen(file, "rb");
        if (!f)
            fail(file);
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        fail("pseudo-terminal");
    const std::string device = ptsname(master);
    // Our own hold on the slave keeps it raw and lets us see how much is still unread.
    const int slave = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (slave < 0)
        fail(device.c_str());
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    unlink(linkPath);
    if (symlink(device.c_str(), linkPath) != 0)
        fail(linkPath);

    std::string pending;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!holdsOpen(pid, device)) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "floodpeer: process %d never opened %s\n", pid, device.c_str());
            return 1;
        }
        serveCommands(master, pending, name);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto settleEnd = Clock::now() + std::chrono::milliseconds(settleMs);
    while (Clock::now() < settleEnd) {
        serveCommands(master, pending, name);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    const long rssBefore = rssKb(pid);
    const double cpuBefore = cpuSeconds(pid);
    const auto start = Clock::now();
    size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{master, POLLOUT, 0};
        poll(&p, 1, 1000);
        const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            fail("write");
        serveCommands(master, pending, nullptr);
    }
    // Drained once the reader has taken every byte.
    for (int unread = 1; unread > 0;) {
        if (ioctl(slave, FIONREAD, &unread) != 0)
            unread = 0;
        if (unread > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double drain = std::chrono::duration<double>(Clock::now() - start).count();
    // Idle again: no CPU tick used for half a second.
    double cpu = cpuSeconds(pid);
    for (int quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        serveCommands(master, pending, nullptr);
        const double now = cpuSeconds(pid);
        quiet = now - cpu < 0.005 ? quiet + 1 : 0;
        cpu = now;
    }
    const long rssAfter = rssKb(pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long rssSettled = rssKb(pid);
    std::printf("cpu_s=%.3f drain_s=%.3f mib=%.3f rss_before_kb=%ld rss_after_kb=%ld rss_settled_kb=%ld\n",
                cpu - cpuBefore, drain, double(bytes.size()) / (1 << 20), rssBefore, rssAfter, rssSettled);
    std::fflush(stdout);
    unlink(linkPath);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *make = nullptr, *link = nullptr, *file = nullptr, *name = nullptr;
    int mib = 10, pid = 0, settleMs = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--make") make = argv[i + 1];
        else if (a == "--mib") mib = std::atoi(argv[i + 1]);
        else if (a == "--link") link = argv[i + 1];
        else if (a == "--pid") pid = std::atoi(argv[i + 1]);
        else if (a == "--flood") file = argv[i + 1];
        else if (a == "--answer") name = argv[i + 1];
        else if (a == "--settle") settleMs = std::atoi(argv[i + 1]);
    }
    if (make)
        return makeFlood(make, mib > 0 ? mib : 10);
    if (!link || !file || pid <= 0) {
        std::fputs("usage: floodpeer --make FILE [--mib N]\n"
                   "       floodpeer --link PATH --pid PID --flood FILE [--answer NAME] [--settle MS]\n",
                   stderr);
        return 2;
    }
    return flood(link, pid, file, name, settleMs);
}
