// Start-up: from process start to the window's first paint.
#include "benchpanel.h"
#include "measure.h"
#include "scenarios.h"

#include <QApplication>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr double TargetMs = 300;

// Starts `self --startup-probe` and returns the time until it writes its byte, or a negative
// value when it did not.
double timeOneStart(const char *self)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char probe[] = "--startup-probe";
    char *const argv[] = {const_cast<char *>(self), probe, nullptr};

    pid_t pid = -1;
    const Clock::time_point start = Clock::now();
    const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return -1;
    }
    pollfd pfd{fds[0], POLLIN, 0};
    char byte = 0;
    const bool answered = ::poll(&pfd, 1, 10000) == 1 && ::read(fds[0], &byte, 1) == 1;
    const double ms = msBetween(start, Clock::now());
    ::close(fds[0]);
    if (!answered)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return answered ? ms : -1;
}

// Notes the first paint of any widget.
class FirstPaint : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

Rows benchStartup(const char *self, int runs)
{
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const double ms = timeOneStart(self);
        if (ms < 0)
            ++failed;
        else
            times.push_back(ms);
    }
    if (times.empty())
        return {{QStringLiteral("Start-up to window shown"), QStringLiteral("probe failed"),
                 QStringLiteral("<= 300 ms"), Row::Verdict::Miss}};
    const double median = percentile(times, 50);
    const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
    QString measured = QStringLiteral("%1 ms (%2 runs, %3-%4)")
                           .arg(fixed(median, 0))
                           .arg(times.size())
                           .arg(fixed(*lo, 0), fixed(*hi, 0));
    if (failed)
        measured += QStringLiteral(", %1 failed").arg(failed);
    return {{QStringLiteral("Start-up to window shown, median"), measured, QStringLiteral("<= 300 ms"),
             Row::check(median <= TargetMs && failed == 0)}};
}

int startupProbe(int argc, char **argv)
{
    // As the program starts: application, style, serial layer, window, centred, shown.
    QApplication app(argc, argv);
    MainWindow::prepareApplication();
    FirstPaint watch;
    app.installEventFilter(&watch);

    const ExecutableIdentity exe{QCoreApplication::applicationDirPath(), QStringLiteral("pwmbench-startup")};
    BenchPrompts prompts;
    Panel panel(exe, prompts);
    panel.session.start();
    panel.window.showCentred();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The paint has been flushed when processEvents returns.
    const char byte = '1';
    const bool ok = ::write(STDOUT_FILENO, &byte, 1) == 1;
    std::_Exit(ok ? 0 : 1); // tear-down is not part of start-up
}
