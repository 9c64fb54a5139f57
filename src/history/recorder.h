#pragma once

#include "csvformat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>

// Appends the history to a CSV file as it happens, for unattended runs. Rows are collected
// with add() and handed to the operating system by flush(), which the panel calls before it
// goes back to its event loop: a crash of the panel loses nothing it has shown. A file that
// cannot be opened or written, or that is removed or replaced while recording, ends the
// recording with one failed() report; the panel goes on without it.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(const QString &path, QObject *parent = nullptr);

    // Opens the file for appending, with the header line when it is empty. False (and
    // failed() reported) when it cannot be.
    bool open();
    bool isRecording() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

    void add(const HistoryRing::Entry &entry);
    void flush();

signals:
    void failed(const QString &message);

private:
    void fail(const QString &message);
    bool stillTheSameFile();

    QFile m_file;
    CsvFormat m_format;
    QByteArray m_pending;
    QElapsedTimer m_lastCheck;
#ifdef Q_OS_UNIX
    quint64 m_device = 0, m_inode = 0;
#endif
};
