// The program: the serial port, the session that decides and the window that shows it, and
// the history with its optional recording.
#include "history/recorder.h"
#include "shell/commandline.h"
#include "ui/messageboxprompts.h"
#include "ui/panel.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include "shell/signalnotice.h"

#include <csignal>
#endif

namespace {

#ifndef Q_OS_WIN
// Without a display Qt aborts; say what to do instead. A platform named on the command line
// (-platform offscreen) needs none.
bool displayAvailable(const CommandLine &line)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !line.platform.isEmpty() || qEnvironmentVariableIsSet("DISPLAY")
           || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
#else
    Q_UNUSED(line);
    return true;
#endif
}

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}
#endif


} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // A program with a window has no console to answer on, and its argv is in the ANSI code
    // page: the command line is read in UTF-16 once Qt runs, and answered in a box.
    QApplication app(argc, argv);
    const CommandLine line = CommandLine::parse(QCoreApplication::arguments());
    if (line.help || !line.error.isEmpty()) {
        const QString usage = CommandLine::usage(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        MessageBoxPrompts::tell(line.help ? usage : line.error + QStringLiteral("\n\n") + usage, !line.help);
        return line.help ? 0 : 2;
    }
#else
    const QString usage = CommandLine::usage(QString::fromLocal8Bit(argv[0]));
    // Before anything needs a display, so that --help and mistakes are answered anywhere.
    const CommandLine line = CommandLine::parse(argumentsOf(argc, argv));
    if (line.help) {
        std::fputs(qPrintable(usage), stdout);
        return 0;
    }
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n%s", argv[0], qPrintable(line.error), qPrintable(usage));
        return 2;
    }
    if (!displayAvailable(line)) {
        std::fprintf(stderr,
                     "%s: no display found. Run it on a desktop session, or headless with\n"
                     "  xvfb-run -a %s\n",
                     argv[0], argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
#endif
    MainWindow::prepareApplication();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icons/pwmpanel.png")));

    // The name the program was started by, in full (on Windows argv[0] loses what the ANSI
    // code page cannot hold, such as a Cyrillic folder name on a Western system).
    const ExecutableIdentity exe = ExecutableIdentity::fromArgv0(QCoreApplication::arguments().constFirst(),
                                                                 QCoreApplication::applicationDirPath());
    // Made before the panel, so that it outlives the history that writes to it.
    std::unique_ptr<Recorder> recorder;
    if (!line.recordPath.isEmpty())
        recorder = std::make_unique<Recorder>(line.recordPath);
    MessageBoxPrompts prompts;
    Panel panel(exe, prompts);
    prompts.setWindow(&panel.window);
    if (line.sharePort >= 0 || !line.sharePty.isEmpty()) {
        Share &share = panel.startSharing();
        QString error;
        bool shared = line.sharePort < 0 || share.listen(quint16(line.sharePort), &error);
#ifdef Q_OS_LINUX
        shared = shared && (line.sharePty.isEmpty() || share.openPty(line.sharePty, &error));
        // Ended by a signal (kill, Ctrl+C, its terminal closing), the panel ends without the
        // close question, which no one is there to answer, and the link to its pseudo-terminal
        // goes with it. The exit status is the shell's for a signal, 128 + its number.
        if (!line.sharePty.isEmpty())
            QObject::connect(new SignalNotice({SIGINT, SIGTERM, SIGHUP}, qApp), &SignalNotice::caught, qApp,
                             [](int number) { QCoreApplication::exit(128 + number); });
#endif
        if (!shared) {
            const QString message = QStringLiteral("cannot share the board: ") + error;
            std::fprintf(stderr, "pwmpanel: %s\n", qPrintable(message));
#ifdef Q_OS_WIN
            MessageBoxPrompts::tell(message, true);
#endif
            return 1;
        }
        std::fprintf(stderr, "pwmpanel: sharing the board on %s\n", qPrintable(share.where()));
        std::fflush(stderr);
    }
    panel.session.start();
    panel.window.showCentred();
    // Opened before the first line can cross (the search starts on a timer).
    if (recorder) {
        // Said once, on standard error and in a box that leaves the panel working.
        QObject::connect(recorder.get(), &Recorder::failed, &panel.window, [&prompts](const QString &message) {
            std::fprintf(stderr, "pwmpanel: %s\n", qPrintable(message));
            prompts.warnAndGoOn(QObject::tr("Recording stopped"), message);
        });
        if (recorder->open())
            panel.history.setRecorder(recorder.get());
    }
    return app.exec();
}
