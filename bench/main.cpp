// pwmbench: times the panel over a pseudo-terminal and prints one table of figures against
// their targets. Exits with 1 when any target is missed.
#include "benchpanel.h"
#include "report.h"
#include "scenarios.h"

#include <QApplication>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

void usage(std::FILE *to)
{
    std::fputs("usage: pwmbench [--quick] [--only startup|idle|highlight|flood|latency|pacing|trend|soak]\n"
               "                [--seconds N] [--rate N] [--warmup N] [--history] [--changes N]\n"
               "  --quick    idle cost over 5 s instead of 30 s, fewer start-ups (smoke run)\n"
               "  --only     run one scenario (for profiling); soak runs only when named\n"
               "  --seconds  soak length in seconds (600)\n"
               "  --rate     soak reply lines a second (2000)\n"
               "  --warmup   soak seconds before growth is counted (30, at most a quarter of the run)\n"
               "  --history  soak with the history window open, recording every line to a file, and a\n"
               "             history of 20000 lines, so that it is full before the warm-up ends\n"
               "  --changes  painted highlight changes after the warm-up (10000)\n",
               to);
}

// Progress on stderr, so that stdout holds only the table.
void progress(const char *what)
{
    std::fprintf(stderr, "pwmbench: %s\n", what);
}

// The offscreen platform warns about window hints it ignores, and Qt about a missing runtime
// folder in containers; neither says anything here.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")) || message.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietHandler);
    if (argc > 1 && std::strcmp(argv[1], "--startup-probe") == 0)
        return startupProbe(argc, argv);

    bool quick = false;
    QString only; // one scenario, for profiling
    SoakOptions soakOptions;
    int warmup = -1;
    int changes = 10000;
    // Options with a whole number: name, where it goes, its least value.
    const struct {
        const char *name;
        int *value;
        int least;
    } numbers[] = {{"--seconds", &soakOptions.seconds, 1}, {"--rate", &soakOptions.rate, 1},
                   {"--warmup", &warmup, 0}, {"--changes", &changes, 1}};
    for (int i = 1; i < argc; ++i) {
        const auto numeric = std::find_if(std::begin(numbers), std::end(numbers),
                                          [&](const auto &n) { return std::strcmp(argv[i], n.name) == 0; });
        if (numeric != std::end(numbers)) {
            char *end = nullptr;
            const long v = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : -1;
            if (!end || *end != '\0' || v < numeric->least || v > 1'000'000'000) {
                usage(stderr);
                return 2;
            }
            *numeric->value = int(v);
        } else if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--history") == 0) {
            soakOptions.history = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }
    const auto wanted = [&only](const char *name) { return only.isEmpty() || only == QLatin1String(name); };
    soakOptions.interval = std::min(10, soakOptions.seconds);
    soakOptions.warmupSeconds = warmup >= 0 ? warmup : std::min(30, soakOptions.seconds / 4);
    // Headless unless told otherwise, here and in the start-up probes.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::perror("pwmbench: /proc/self/exe");
        return 2;
    }

    // Measured in an order that keeps them apart (start-up before this process has a window,
    // memory before the flood has grown the heap, the highlight changes on a panel of their
    // own); shown in the order of the table.
    Rows startup, idle, highlight, flood, latency, pacing, trend, soak;
    if (wanted("startup")) {
        progress("start-up");
        startup = benchStartup(self, quick ? 3 : 7);
    }

    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (wanted("idle")) {
        progress(quick ? "idle cost (5 s)" : "idle cost (30 s)");
        BenchPanel panel(1);
        idle = benchIdle(panel, quick ? 5s : 30s);
    }
    if (wanted("highlight")) {
        progress("highlight changes");
        BenchPanel panel(0);
        highlight = benchHighlight(panel, changes);
    }
    if (wanted("flood") || wanted("latency")) {
        BenchPanel panel(0);
        const bool connected = panel.waitConnected();
        if (wanted("flood")) {
            progress("receive flood");
            flood = benchFlood(panel, connected, 4'000'000);
        }
        if (wanted("latency")) {
            progress("reply latency");
            latency = benchLatency(panel, connected, 1000);
        }
    }
    if (wanted("pacing")) {
        progress("pacing wait");
        pacing = benchPacing(200);
    }
    if (wanted("trend")) {
        progress("trend drawing");
        trend = benchTrend();
    }
    if (only == QLatin1String("soak")) { // long: only when asked for
        progress(qPrintable(QStringLiteral("soak (%1 s at %2 lines/s%3)")
                                .arg(soakOptions.seconds)
                                .arg(soakOptions.rate)
                                .arg(soakOptions.history ? ", history window open and recording" : "")));
        SessionHistory::Limits limits;
        if (soakOptions.history)
            limits = {SoakOptions::HistoryEntries, SoakOptions::HistoryBytes, SoakOptions::HistoryTrendPoints};
        BenchPanel panel(1, limits);
        soak = benchSoak(panel, soakOptions);
    }

    Rows rows;
    for (const Rows *part : {&flood, &latency, &pacing, &trend, &idle, &highlight, &soak, &startup})
        rows.insert(rows.end(), part->begin(), part->end());
    printTable(rows);
    return allMet(rows) ? 0 : 1;
}
