#include "showthrottle.h"

#include <QEvent>

ShowThrottle::ShowThrottle(QWidget *window, std::function<bool()> show)
    : m_window(window), m_show(std::move(show))
{
    window->installEventFilter(this);
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &ShowThrottle::showPending);
}

void ShowThrottle::request(int lines)
{
    m_lines += lines;
    if (m_scheduled)
        return;
    m_scheduled = true;
    if (m_flooding) {
        const qint64 since = m_lastShown.isValid() ? m_lastShown.elapsed() : FloodInterval.count();
        m_frame.start(int(std::max<qint64>(0, FloodInterval.count() - since)));
    } else if (m_paintPending) {
        // The coming paint shows it; the frame is only there in case no paint comes.
        m_frame.start(FloodInterval);
    } else {
        // After the rest of this read has been handled.
        QMetaObject::invokeMethod(this, &ShowThrottle::showPending, Qt::QueuedConnection);
    }
}

void ShowThrottle::showPending()
{
    if (!m_scheduled)
        return;
    m_scheduled = false;
    m_frame.stop();
    m_lastShown.start();
    m_flooding = m_lines > FloodLines;
    m_lines = 0;
    m_paintPending = (m_show() && m_window->isVisible()) || m_paintPending;
}

// Nothing is painted that has already changed; once painted, the next change shows at once.
bool ShowThrottle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Show)) {
        showPending();
        if (event->type() == QEvent::UpdateRequest)
            m_paintPending = false; // the paint follows at once
    }
    return false;
}
