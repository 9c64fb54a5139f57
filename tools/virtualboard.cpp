// virtualboard: plays the PWM board on a pseudo-terminal so the panel can be tried
// and tested without hardware. Plain POSIX; everything received is untrusted.
//
// Wire protocol: commands end with CR, LF bytes are ignored, replies end with the
// chosen line ending. Unknown or malformed commands get no answer.

#include "boardpty.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxCommand = 4096;  // longer commands are dropped whole
constexpr int kMaxDelayMs = 600000;
constexpr int kMaxFloodSeconds = 3600;
constexpr int kMaxBurstLines = 10000000;

struct Options {
    std::string name = "ORVIX7";
    std::string eol = "\r";
    std::string link;  // empty: <exe folder>/ports/com<port>
    int port = 1;
    bool silent = false;
    int delayMs = 0;
    int floodSeconds = 0;
    int burstLines = 20000;
    int burstPerSecond = 0; // 0: as fast as the port takes them
    std::string burstOn; // the command that sets off a burst
    std::string logPath;
    std::string vanishOn; // the command on which the board goes away
    std::vector<std::string> firstReplies; // answers to the first I?s, "-" for none
};

void printUsage(std::FILE *to)
{
    std::fputs("usage: virtualboard [options]\n"
               "  --name TEXT         application name answered to I? (default ORVIX7)\n"
               "  --eol cr|crlf|lfcr  line ending of replies (default cr)\n"
               "  --link PATH         symbolic link to create for the port\n"
               "  --port N            same as --link <exe folder>/ports/comN (default 1)\n"
               "  --silent            never answer (commands are still logged)\n"
               "  --first-replies A,B,...  answer the first I?s with A, B, ... in turn (- for no\n"
               "                      answer; even when --silent), as a board that is starting\n"
               "  --delay MS          wait MS milliseconds before each reply\n"
               "  --log FILE          append each received command to FILE\n"
               "  --flood SECONDS     on the first command, send SECONDS seconds of noise instead of\n"
               "                      the answer (random bytes, NUL, bytes above 127, markup, long\n"
               "                      runs without CR) as fast as the port takes it, dropping what\n"
               "                      arrives meanwhile; then one CR and normal answers\n"
               "  --burst-on TEXT     on each command TEXT, send a burst of lines PV01=1, PV01=2, ...\n"
               "                      as fast as the port takes them (waiting up to 5 s for it)\n"
               "  --burst LINES       the lines in a burst (default 20000)\n"
               "  --burst-rate N      send a burst's lines N a second (default: as fast as taken)\n"
               "  --vanish-on TEXT    on receiving the command TEXT, close the port and end, as a\n"
               "                      board that is unplugged\n"
               "  --help              show this text\n",
               to);
}

// Parses a whole decimal number (optional leading '-') that must fill all of text.
std::optional<long long> parseWhole(std::string_view text)
{
    long long value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// Returns 0 on success, 1 for --help, 2 for bad usage (message already printed).
int parseOptions(int argc, char **argv, Options &opt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help")
            return 1;
        if (arg == "--silent") {
            opt.silent = true;
            continue;
        }
        const bool takesValue = arg == "--name" || arg == "--eol" || arg == "--link"
                || arg == "--port" || arg == "--delay" || arg == "--log" || arg == "--flood"
                || arg == "--burst" || arg == "--burst-rate" || arg == "--burst-on" || arg == "--vanish-on"
                || arg == "--first-replies";
        if (!takesValue) {
            std::fprintf(stderr, "virtualboard: unknown option '%s' (try --help)\n", argv[i]);
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "virtualboard: option %s needs a value\n", argv[i]);
            return 2;
        }
        const std::string_view value = argv[++i];
        if (arg == "--name") {
            opt.name = value;
        } else if (arg == "--link") {
            opt.link = value;
        } else if (arg == "--log") {
            opt.logPath = value;
        } else if (arg == "--burst-on") {
            opt.burstOn = value;
        } else if (arg == "--vanish-on") {
            opt.vanishOn = value;
        } else if (arg == "--first-replies") {
            for (std::size_t from = 0, comma = 0; comma != std::string_view::npos; from = comma + 1) {
                comma = value.find(',', from);
                opt.firstReplies.emplace_back(value.substr(from, comma - from));
            }
        } else if (arg == "--eol") {
            if (value == "cr") opt.eol = "\r";
            else if (value == "crlf") opt.eol = "\r\n";
            else if (value == "lfcr") opt.eol = "\n\r";
            else {
                std::fprintf(stderr, "virtualboard: --eol must be cr, crlf or lfcr\n");
                return 2;
            }
        } else {
            const auto n = parseWhole(value);
            const bool isPort = arg == "--port";
            const bool isFlood = arg == "--flood";
            const bool isBurst = arg == "--burst" || arg == "--burst-rate";
            const long long low = isPort ? 1 : 0;
            const long long high = isPort ? 9999 : isFlood ? kMaxFloodSeconds : isBurst ? kMaxBurstLines : kMaxDelayMs;
            if (!n || *n < low || *n > high) {
                std::fprintf(stderr, "virtualboard: bad value '%s' for %s\n", argv[i], argv[i - 1]);
                return 2;
            }
            (isPort ? opt.port : isFlood ? opt.floodSeconds : isBurst ? (arg == "--burst" ? opt.burstLines : opt.burstPerSecond) : opt.delayMs) = static_cast<int>(*n);
        }
    }
    return 0;
}

// Readable once a stop signal has come.
int g_stopFd = -1;

double monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Printable ASCII stays as is; everything else, and the backslash, becomes \xNN.
std::string escaped(std::string_view text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The board's registers and its answers; knows nothing about the port.
class Board {
public:
    explicit Board(std::string name) : name_(std::move(name)) {}

    // The reply line without line ending, or nothing when the command gets no answer.
    std::optional<std::string> handle(std::string_view cmd)
    {
        if (cmd == "I?")
            return name_;
        if (cmd == "PV01?" || cmd == "PV02?") {
            // Half the duty plus a little ripple, so successive readings differ.
            const long long duty = cmd[3] == '1' ? duty1_ : duty2_;
            const double value = static_cast<double>(duty) * 0.5 + 0.1 * (tick_++ % 5);
            char text[64];
            std::snprintf(text, sizeof text, "%.1f", value);
            return std::string(cmd.substr(0, 4)) + "=" + text;
        }
        if (cmd.size() < 5)
            return std::nullopt;
        long long *reg = nullptr;
        const std::string_view key = cmd.substr(0, 4);
        if (key == "SV01") reg = &frequency_;
        else if (key == "SV11") reg = &duty1_;
        else if (key == "SV21") reg = &duty2_;
        if (!reg)
            return std::nullopt;
        if (cmd[4] == '?' && cmd.size() == 5)
            return std::string(key) + "=" + std::to_string(*reg);
        if (cmd[4] == '=') {
            const auto value = parseWhole(cmd.substr(5));
            if (!value)
                return std::nullopt;
            *reg = *value;
            return std::string(key) + "=" + std::to_string(*reg);
        }
        return std::nullopt;
    }

private:
    std::string name_;
    long long frequency_ = 3;
    long long duty1_ = 0;
    long long duty2_ = 0;
    unsigned tick_ = 0;
};

// Waits up to ms milliseconds; returns false as soon as a termination signal arrived.
bool waitUnlessSignalled(int ms)
{
    const double deadline = monotonicMs() + ms;
    for (;;) {
        const double left = deadline - monotonicMs();
        if (left <= 0)
            return true;
        pollfd pfd {g_stopFd, POLLIN, 0};
        const int n = poll(&pfd, 1, static_cast<int>(left) + 1);
        if (n > 0)
            return false;
        if (n < 0 && errno != EINTR)
            return true;
    }
}

// Writes all of data to the non-blocking master; gives up (drops the rest) when
// nobody drains the port for patienceMs, so a closed panel cannot wedge the board.
void writeAll(int fd, std::string_view data, int patienceMs = 50)
{
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd {fd, POLLOUT, 0};
            if (poll(&pfd, 1, patienceMs) <= 0)
                return;
        } else {
            return;
        }
    }
}

// Noise for --flood: a fixed pseudo-random sequence of pieces, each of them hostile to a
// line reader in its own way.
class Noise {
public:
    std::string next()
    {
        std::string out;
        switch (below(6)) {
        case 0:  // anything at all, CR and LF included
            for (std::size_t n = 1 + below(4096); n > 0; --n)
                out += static_cast<char>(below(256));
            break;
        case 1:  // a very long run without CR or LF
            for (std::size_t n = 1 + below(100000); n > 0; --n) {
                const char c = static_cast<char>(below(256));
                out += c == '\r' || c == '\n' ? 'x' : c;
            }
            break;
        case 2:  // markup, as a line of its own
            out = "<b>x</b><img src=y>\r";
            break;
        case 3:  // only bytes above 127
            for (std::size_t n = 1 + below(2000); n > 0; --n)
                out += static_cast<char>(128 + below(128));
            out += '\r';
            break;
        case 4:  // NULs
            out.assign(1 + below(500), '\0');
            out += below(2) ? "\r" : "";
            break;
        default:  // stray line feeds and empty lines
            out = below(2) ? "\n\n\r\r\n" : "\r\r\r";
            break;
        }
        return out;
    }

private:
    std::size_t below(std::size_t n)
    {
        state_ ^= state_ << 13;  // xorshift64
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::size_t>(state_ % n);
    }

    unsigned long long state_ = 0x9E3779B97F4A7C15ull;
};

// Writes noise to the non-blocking master for ms milliseconds, as fast as it is taken, and
// reads (and drops) whatever arrives meanwhile. Ends the noise with a CR, so the next answer
// starts a line of its own. Returns false as soon as a termination signal arrived.
bool flood(int master, int ms)
{
    Noise noise;
    std::string piece;
    std::size_t sent = 0;
    const double deadline = monotonicMs() + ms;
    for (;;) {
        const double left = deadline - monotonicMs();
        if (left <= 0)
            break;
        if (sent == piece.size()) {
            piece = noise.next();
            sent = 0;
        }
        pollfd fds[2] = {{g_stopFd, POLLIN, 0}, {master, POLLIN | POLLOUT, 0}};
        const int n = poll(fds, 2, static_cast<int>(left) + 1);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        if (fds[0].revents)
            return false;
        if (fds[1].revents & POLLIN) {
            char buf[4096];
            [[maybe_unused]] const ssize_t got = read(master, buf, sizeof buf);
        }
        if (fds[1].revents & POLLOUT) {
            const ssize_t put = write(master, piece.data() + sent, piece.size() - sent);
            if (put > 0)
                sent += static_cast<std::size_t>(put);
        }
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !waitUnlessSignalled(50))
            return false;
    }
    writeAll(master, "\r");
    return true;
}

// Splits the incoming bytes into commands, logs them and sends the replies.
class Session {
public:
    Session(const Options &opt, int master, std::FILE *log)
        : opt_(opt), master_(master), log_(log), board_(opt.name) {}

    // Returns false when a termination signal arrived while waiting to reply, or the board
    // is to vanish.
    bool feed(const char *data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n')
                continue;
            if (c == '\r') {
                const bool wasDropping = dropping_;
                dropping_ = false;
                if (!wasDropping && !command(pending_))
                    return false;
                pending_.clear();
            } else if (!dropping_) {
                if (pending_.size() >= kMaxCommand) {
                    dropping_ = true;
                    pending_.clear();
                } else {
                    pending_ += c;
                }
            }
        }
        return true;
    }

private:
    bool command(const std::string &cmd)
    {
        if (log_) {
            std::fprintf(log_, "%.3f %s\n", monotonicMs(), escaped(cmd).c_str());
            std::fflush(log_);
        }
        if (!opt_.vanishOn.empty() && cmd == opt_.vanishOn)
            return false;
        if (opt_.floodSeconds > 0 && !flooded_) {
            flooded_ = true;
            return flood(master_, opt_.floodSeconds * 1000);
        }
        if (!opt_.burstOn.empty() && cmd == opt_.burstOn) {
            const double start = monotonicMs();
            for (int i = 1; i <= opt_.burstLines; ++i) {
                if (opt_.burstPerSecond > 0) {
                    const double due = start + 1000.0 * (i - 1) / opt_.burstPerSecond;
                    if (due > monotonicMs() && !waitUnlessSignalled(static_cast<int>(due - monotonicMs())))
                        return false;
                }
                writeAll(master_, "PV01=" + std::to_string(i) + "\r", 5000);
            }
            return true;
        }
        auto reply = board_.handle(cmd);
        const bool first = reply && cmd == "I?" && asked_ < opt_.firstReplies.size();
        if (first)
            reply = opt_.firstReplies[asked_++];
        if (!reply || (opt_.silent && !first) || (first && *reply == "-"))
            return true;
        if (opt_.delayMs > 0 && !waitUnlessSignalled(opt_.delayMs))
            return false;
        writeAll(master_, *reply + opt_.eol);
        return true;
    }

    const Options &opt_;
    int master_;
    std::FILE *log_;
    Board board_;
    std::string pending_;
    bool dropping_ = false;  // inside an overlong command: skip up to the next CR
    bool flooded_ = false;
    std::size_t asked_ = 0; // I?s answered from --first-replies
};

std::string defaultLink(const char *argv0, int port)
{
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        exe = std::filesystem::absolute(argv0, ec);
    return (exe.parent_path() / "ports" / ("com" + std::to_string(port))).string();
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    switch (parseOptions(argc, argv, opt)) {
    case 1: printUsage(stdout); return 0;
    case 2: return 2;
    default: break;
    }
    if (opt.link.empty())
        opt.link = defaultLink(argv[0], opt.port);

    g_stopFd = stopSignalFd("virtualboard");
    if (g_stopFd < 0)
        return 1;
    const int stopFd = g_stopFd;

    BoardPty pty;
    if (!openBoardPty(pty, "virtualboard"))
        return 1;
    const int master = pty.master;
    const std::string slavePath = pty.slavePath;

    std::FILE *log = nullptr;
    if (!opt.logPath.empty() && !(log = std::fopen(opt.logPath.c_str(), "ae"))) {
        std::fprintf(stderr, "virtualboard: cannot open log %s: %s\n", opt.logPath.c_str(), std::strerror(errno));
        return 1;
    }
    if (!makeLink(slavePath, opt.link, "virtualboard"))
        return 1;
    std::printf("virtualboard: %s linked at %s\n", slavePath.c_str(), opt.link.c_str());
    std::fflush(stdout);

    Session session(opt, master, log);
    int status = 0;
    bool resting = false;  // after EIO/hang-up on the master: leave it alone briefly
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {master, POLLIN, 0}};
        const int n = poll(fds, resting ? 1 : 2, resting ? 100 : -1);
        resting = false;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::perror("virtualboard: poll");
            status = 1;
            break;
        }
        if (fds[0].revents)
            break;  // SIGINT/SIGTERM/SIGHUP
        if (fds[1].revents & POLLIN) {
            char buf[4096];
            const ssize_t got = read(master, buf, sizeof buf);
            if (got > 0) {
                if (!session.feed(buf, static_cast<std::size_t>(got)))
                    break;
            } else if (got == 0 || errno == EIO) {
                resting = true;
            } else if (errno != EAGAIN && errno != EINTR) {
                std::perror("virtualboard: read");
                status = 1;
                break;
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            resting = true;
        }
    }

    removeLink(slavePath, opt.link);
    if (log)
        std::fclose(log);
    close(pty.slave);
    close(master);
    return status;
}
