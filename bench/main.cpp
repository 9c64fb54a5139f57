// pwmbench: times the panel over a pseudo-terminal and prints one table of figures against
// their targets. Exits with 1 when any target is missed.
#include "benchpanel.h"
#include "report.h"
#include "scenarios.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

void usage(std::FILE *to)
{
    std::fputs("usage: pwmbench [--quick] [--only startup|idle|flood|latency|pacing]\n"
               "  --quick   idle cost over 5 s instead of 30 s, fewer start-ups (smoke run)\n"
               "  --only    run one scenario (for profiling)\n",
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
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
    // Headless unless told otherwise, here and in the start-up probes.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::perror("pwmbench: /proc/self/exe");
        return 2;
    }

    // Measured in an order that keeps them apart (start-up before this process has a window,
    // memory before the flood has grown the heap); shown in the order of the table.
    Rows startup, idle, flood, latency, pacing;
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

    Rows rows;
    for (const Rows *part : {&flood, &latency, &pacing, &idle, &startup})
        rows.insert(rows.end(), part->begin(), part->end());
    printTable(rows);
    return allMet(rows) ? 0 : 1;
}
