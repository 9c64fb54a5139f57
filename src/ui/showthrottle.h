#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

// When a window shows what has changed. A change that comes alone is shown in the same turn of
// the event loop, as soon as the read that brought it has been handled. Changes are gathered
// and shown once a frame only while they come faster than that: while a flood brings more than
// FloodLines lines between showings, or while the last showing has not been painted yet (the
// window then shows what is pending just before it paints). A change never waits merely
// because the last showing was recent. It watches its window's paints itself.
class ShowThrottle : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds FloodInterval{16};
    static constexpr int FloodLines = 8;

    // `show` puts what is pending on `window`; it returns whether that changed what is seen.
    // The throttle is a member of the window it watches.
    ShowThrottle(QWidget *window, std::function<bool()> show);

    // Something changed, bringing `lines` more lines.
    void request(int lines = 1);
    // Shows what is pending now, if anything, as the window does before it is shown or painted.
    void showPending();
    // A showing is pending and waits for a frame or a paint, rather than for the current read.
    bool coalescing() const { return m_frame.isActive(); }


protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    std::function<bool()> m_show;
    bool m_scheduled = false;
    bool m_flooding = false;     // the last showing had more than FloodLines lines
    bool m_paintPending = false; // the last showing has not been painted yet
    int m_lines = 0;             // lines since the last showing
    QElapsedTimer m_lastShown;
    QTimer m_frame;
};
