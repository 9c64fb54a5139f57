// The program: the serial port, the session that decides and the window that shows it.
#include "ui/messageboxprompts.h"
#include "ui/panel.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

// Without a display Qt aborts; say what to do instead.
bool displayAvailable()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
           || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "%s: no display found. Run it on a desktop session, or headless with\n"
                     "  xvfb-run -a %s\n",
                     argv[0], argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    MainWindow::prepareApplication();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icons/pwmpanel.png")));

    const ExecutableIdentity exe = ExecutableIdentity::fromArgv0(
        QString::fromLocal8Bit(argv[0]), QCoreApplication::applicationDirPath());
    MessageBoxPrompts prompts;
    Panel panel(exe, prompts);
    prompts.setWindow(&panel.window);
    panel.session.start();
    panel.window.showCentred();
    return app.exec();
}
