// simboard: runs the board's firmware on an emulated ATmega328P at 16 MHz, joins its
// USART0 to a pseudo-terminal, and reports what the two PWM pins do.
//
// The emulator lacks Timer2's phase-correct PWM, so this program produces that waveform
// itself from TCCR2A/B and OCR2A/B and drives the compare outputs with it; a probe on
// each pin (PB3, PD3) then measures frequency and duty over windows of simulated time and
// prints one line per window on standard output:
//
//   pins <end of window in simulated ms> PB3 <Hz> <duty %> PD3 <Hz> <duty %>
//
// Simulated time is paced against the wall clock, so the panel sees a board at real speed.
// Diagnostics go to standard error.

#include "boardpty.h"
#include "pinprobe.h"
#include "timer2pwm.h"

#include <simavr/avr_extint.h>
#include <simavr/avr_ioport.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_elf.h>
#include <simavr/sim_irq.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

// For builds with LeakSanitizer: the emulator keeps tables that avr_terminate() does not
// free; they live until the process ends anyway.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libsimavr.so\n";
}
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}

namespace {

constexpr std::uint32_t CpuHz = 16'000'000;
constexpr avr_cycle_count_t CyclesPerMs = CpuHz / 1000;
// Bytes from the pseudo-terminal wait here until the emulated USART takes them; beyond
// this we stop reading and let the terminal buffer hold the rest.
constexpr std::size_t MaxQueued = 4096;

struct Options {
    std::string elf;
    std::string link;
    int windowMs = 100;
};

void printUsage(std::FILE *to)
{
    std::fputs("usage: simboard --elf FIRMWARE.elf --link PATH [--window MS]\n"
               "  --elf FILE     firmware to run on an ATmega328P at 16 MHz\n"
               "  --link PATH    symbolic link to create for the board's serial port\n"
               "  --window MS    measuring window in simulated milliseconds (default 100)\n"
               "  --help         show this text\n"
               "Prints 'pins <ms> PB3 <Hz> <duty %> PD3 <Hz> <duty %>' once per window.\n",
               to);
}

// Returns 0 on success, 1 for --help, 2 for bad usage (message already printed).
int parseOptions(int argc, char **argv, Options &opt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help")
            return 1;
        if (arg != "--elf" && arg != "--link" && arg != "--window") {
            std::fprintf(stderr, "simboard: unknown option '%s' (try --help)\n", argv[i]);
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "simboard: option %s needs a value\n", argv[i]);
            return 2;
        }
        const std::string_view value = argv[++i];
        if (arg == "--elf") {
            opt.elf = value;
        } else if (arg == "--link") {
            opt.link = value;
        } else {
            int ms = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
            if (ec != std::errc() || end != value.data() + value.size() || ms < 10 || ms > 10000) {
                std::fprintf(stderr, "simboard: --window wants 10 to 10000 ms\n");
                return 2;
            }
            opt.windowMs = ms;
        }
    }
    if (opt.elf.empty() || opt.link.empty()) {
        std::fprintf(stderr, "simboard: --elf and --link are required (try --help)\n");
        return 2;
    }
    return 0;
}

// The emulator's own messages go to standard error, so standard output carries only our
// reports; its chatter below the error level is dropped.
extern "C" void logToStderr(avr_t *, const int level, const char *format, va_list ap)
{
    if (level <= LOG_ERROR)
        std::vfprintf(stderr, format, ap);
}

// The emulator would otherwise sleep on its own whenever the firmware sleeps; we pace.
extern "C" void noSleep(avr_t *, avr_cycle_count_t) {}

double monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

// USART0 to and from byte queues; the main loop moves them to and from the terminal.
class UartBridge
{
public:
    explicit UartBridge(avr_t *avr)
    {
        // No copy of the output on the console, and no real-time naps when the firmware
        // polls the status register: we pace, and standard output carries our reports.
        std::uint32_t flags = 0;
        avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
        flags &= ~std::uint32_t(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
        avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
        const std::uint32_t uart = AVR_IOCTL_UART_GETIRQ('0');
        m_input = avr_io_getirq(avr, uart, UART_IRQ_INPUT);
        avr_irq_register_notify(avr_io_getirq(avr, uart, UART_IRQ_OUTPUT), onOutput, this);
        avr_irq_register_notify(avr_io_getirq(avr, uart, UART_IRQ_OUT_XON), onXon, this);
        avr_irq_register_notify(avr_io_getirq(avr, uart, UART_IRQ_OUT_XOFF), onXoff, this);
        // The USART flags "send" while its receive queue has room; until the firmware
        // turns the receiver on there is nothing to hand it anyway.
    }

    std::deque<std::uint8_t> toChip;
    std::string fromChip;

    // Hands the chip what it has room for.
    void feed()
    {
        while (m_ready && !toChip.empty()) {
            const std::uint8_t byte = toChip.front();
            toChip.pop_front();
            avr_raise_irq(m_input, byte);
        }
    }

private:
    static void onOutput(avr_irq_t *, std::uint32_t value, void *param)
    {
        static_cast<UartBridge *>(param)->fromChip += char(value & 0xFF);
    }
    static void onXon(avr_irq_t *, std::uint32_t, void *param)
    {
        static_cast<UartBridge *>(param)->m_ready = true;
    }
    static void onXoff(avr_irq_t *, std::uint32_t, void *param)
    {
        static_cast<UartBridge *>(param)->m_ready = false;
    }

    avr_irq_t *m_input = nullptr;
    bool m_ready = false;
};

// A measuring window: every window of simulated time ends with one report line.
class Reporter
{
public:
    Reporter(avr_t *avr, PinProbe &a, PinProbe &b, int windowMs)
        : m_a(a), m_b(b), m_cycles(avr_cycle_count_t(windowMs) * CyclesPerMs)
    {
        m_a.startWindow(avr->cycle);
        m_b.startWindow(avr->cycle);
        avr_cycle_timer_register(avr, m_cycles, onWindowEnd, this);
    }

private:
    static avr_cycle_count_t onWindowEnd(avr_t *, avr_cycle_count_t when, void *param)
    {
        auto *self = static_cast<Reporter *>(param);
        const PinProbe::Reading a = self->m_a.endWindow(when, CpuHz);
        const PinProbe::Reading b = self->m_b.endWindow(when, CpuHz);
        std::printf("pins %.1f %s %.3f %.3f %s %.3f %.3f\n", double(when) / CyclesPerMs,
                    self->m_a.name(), a.hz, a.dutyPercent, self->m_b.name(), b.hz,
                    b.dutyPercent);
        std::fflush(stdout);
        self->m_a.startWindow(when);
        self->m_b.startWindow(when);
        return when + self->m_cycles;
    }

    PinProbe &m_a;
    PinProbe &m_b;
    avr_cycle_count_t m_cycles;
};

// Writes what the chip sent to the non-blocking master; what the terminal does not take
// now stays queued.
void drain(int master, std::string &pending)
{
    while (!pending.empty()) {
        const ssize_t n = write(master, pending.data(), pending.size());
        if (n > 0)
            pending.erase(0, std::size_t(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // full (EAGAIN) or nobody listening (EIO): try again later
    }
    // Nobody reading for a long while: forget the oldest, as a line with no listener would.
    if (pending.size() > 65536)
        pending.erase(0, pending.size() - 65536);
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

    const int stopFd = stopSignalFd("simboard");
    if (stopFd < 0)
        return 1;
#ifdef __linux__
    // A test that dies without stopping us must not leave an emulated board running.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif

    avr_global_logger_set(logToStderr);
    elf_firmware_t firmware{};
    if (elf_read_firmware(opt.elf.c_str(), &firmware) != 0) {
        std::fprintf(stderr, "simboard: cannot read firmware %s\n", opt.elf.c_str());
        return 1;
    }
    avr_t *avr = avr_make_mcu_by_name("atmega328p");
    if (!avr || avr_init(avr) != 0) {
        std::fprintf(stderr, "simboard: the emulator has no ATmega328P\n");
        return 1;
    }
    avr->frequency = CpuHz;
    avr->log = LOG_ERROR;
    avr->sleep = noSleep;
    avr_load_firmware(avr, &firmware);
    // At EICRA's reset value the emulator would test INT0/INT1 on every cycle in which
    // PD2/PD3 are low, masked or not; the firmware uses neither.
    avr_extint_set_strict_lvl_trig(avr, 0, 0);
    avr_extint_set_strict_lvl_trig(avr, 1, 0);

    Timer2Pwm pwm(avr);
    PinProbe pb3("PB3"), pd3("PD3");
    pb3.attach(avr, avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('B'), 3));
    pd3.attach(avr, avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('D'), 3));
    Reporter reporter(avr, pb3, pd3, opt.windowMs);
    UartBridge uart(avr);

    BoardPty pty;
    if (!openBoardPty(pty, "simboard"))
        return 1;
    const int master = pty.master;
    const std::string slavePath = pty.slavePath;
    if (!makeLink(slavePath, opt.link, "simboard"))
        return 1;
    std::printf("simboard: %s linked at %s\n", slavePath.c_str(), opt.link.c_str());
    std::fflush(stdout);

    int status = 0;
    const double startMs = monotonicMs();
    avr_cycle_count_t nextMs = avr->cycle + CyclesPerMs;
    std::uint64_t simMs = 0;
    for (;;) {
        while (avr->cycle < nextMs) {
            const int state = avr_run(avr);
            if (state == cpu_Done || state == cpu_Crashed) {
                std::fprintf(stderr, "simboard: the firmware stopped (state %d) at %.3f ms\n",
                             state, double(avr->cycle) / CyclesPerMs);
                status = 1;
                break;
            }
        }
        if (status != 0)
            break;
        nextMs += CyclesPerMs;
        ++simMs;
        pwm.poll();
        uart.feed();
        drain(master, uart.fromChip);

        // Ahead of the wall clock: wait for it, or for the terminal, whichever comes first.
        const double aheadMs = double(simMs) - (monotonicMs() - startMs);
        const int waitMs = aheadMs > 0 ? int(aheadMs) : 0;
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {master, POLLIN, 0}};
        const bool wantInput = uart.toChip.size() < MaxQueued;
        const int n = poll(fds, wantInput ? 2 : 1, waitMs);
        if (n > 0 && fds[0].revents)
            break; // SIGINT, SIGTERM or SIGHUP
        if (n > 0 && (fds[1].revents & POLLIN)) {
            std::uint8_t buf[512];
            const ssize_t got = read(master, buf, sizeof buf);
            if (got > 0)
                uart.toChip.insert(uart.toChip.end(), buf, buf + got);
        }
        // After the poll returned early for input, sleep off the rest of the lead, so
        // input does not make simulated time run ahead.
        const double leftMs = double(simMs) - (monotonicMs() - startMs);
        if (leftMs >= 1.0) {
            const int r = poll(fds, 1, int(leftMs));
            if (r > 0 && fds[0].revents)
                break;
        }
    }

    removeLink(slavePath, opt.link);
    close(pty.slave);
    close(master);
    avr_terminate(avr);
    // What the firmware reader allocated; the emulator copied the image it needed.
    for (std::uint32_t i = 0; i < firmware.symbolcount; ++i)
        std::free(firmware.symbol[i]);
    std::free(firmware.symbol);
    std::free(firmware.flash);
    std::free(firmware.eeprom);
    std::free(firmware.fuse);
    std::free(firmware.lockbits);
    return status;
}
