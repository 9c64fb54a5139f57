#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Unix signals (SIGINT, SIGTERM, ...) as a Qt signal on the event loop: the handler only
// writes the signal's number to a pipe, which a notifier reads. While one lives, it alone
// handles those signals; when it goes, they are handled as by default again. Not on Windows.
class SignalNotice : public QObject
{
    Q_OBJECT
public:
    explicit SignalNotice(std::initializer_list<int> numbers, QObject *parent = nullptr);
    ~SignalNotice() override;

    // False when the pipe could not be made: the signals are then left as they were.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void caught(int number);

private:
    QList<int> m_numbers;
    QSocketNotifier *m_notifier = nullptr;
};
