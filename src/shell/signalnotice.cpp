#include "signalnotice.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void writeSignalToPipe(int number)
{
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}

} // namespace

SignalNotice::SignalNotice(std::initializer_list<int> numbers, QObject *parent)
    : QObject(parent), m_numbers(numbers)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char c = 0;
        while (::read(g_pipe[0], &c, 1) == 1)
            emit caught(int(static_cast<unsigned char>(c)));
    });
    struct sigaction action {};
    action.sa_handler = writeSignalToPipe;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : m_numbers)
        ::sigaction(number, &action, nullptr);
}

SignalNotice::~SignalNotice()
{
    if (!m_notifier)
        return;
    for (const int number : m_numbers)
        ::signal(number, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
