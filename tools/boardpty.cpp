#include "boardpty.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool openBoardPty(BoardPty &pty, const char *program)
{
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 || !ptsname(pty.master)) {
        std::fprintf(stderr, "%s: pseudo-terminal: %s\n", program, std::strerror(errno));
        return false;
    }
    pty.slavePath = ptsname(pty.master);
    pty.slave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (pty.slave < 0 || tcgetattr(pty.slave, &tio) != 0) {
        std::fprintf(stderr, "%s: slave: %s\n", program, std::strerror(errno));
        return false;
    }
    cfmakeraw(&tio);
    tcsetattr(pty.slave, TCSANOW, &tio);
    return true;
}

bool makeLink(const std::string &target, const std::string &link, const char *program)
{
    const std::filesystem::path parent = std::filesystem::path(link).parent_path();
    if (!parent.empty() && mkdir(parent.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", program, parent.c_str(), std::strerror(errno));
        return false;
    }
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "%s: %s exists and is not a symbolic link\n", program, link.c_str());
        return false;
    }
    const std::string tmp = link + ".tmp" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot create link %s: %s\n", program, link.c_str(), std::strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string &target, const std::string &link)
{
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    if (n > 0 && std::string_view(buf, std::size_t(n)) == target)
        unlink(link.c_str());
}

namespace {

int g_stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t r = write(g_stopPipe[1], &c, 1);
    errno = saved;
}

} // namespace

int stopSignalFd(const char *program)
{
    if (pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "%s: pipe: %s\n", program, std::strerror(errno));
        return -1;
    }
    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return g_stopPipe[0];
}
