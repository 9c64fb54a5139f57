#pragma once

#include "csvformat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>

// Appends the history to a CSV file as it happens, for unattended runs. Rows are collected
// with add() and handed to the operating system by flush(), which the panel calls before it
// goes back to its event loop: a crash of the panel loses nothing it has shown. A file that
// cannot be opened or written, or that is removed or replaced while recording, ends the
// recording with one failed() report; the panel goes on without it. The rows of a batch the
// system took only part of (the disk filling up) are taken back where they can be, and a file
// left ending in a torn row is continued on a line of its own: a reader sees at most that one
// row damaged, not two rows joined (unless it broke off inside a quoted text).
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(const QString &path, QObject *parent = nullptr);

    // Opens the file for appending, with the header line when it is empty, or a line end first
    // when it ends in a torn row. False (and failed() reported) when it cannot be.
    bool open();
    bool isRecording() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

    void add(const HistoryRing::Entry &entry);
    void flush();

signals:
    void failed(const QString &message);

private:
    void fail(const QString &message);
    void failWriting(qint64 written);
    bool stillTheSameFile();
    bool endsWithALineEnd() const;

    QFile m_file;
    CsvFormat m_format;
    QByteArray m_pending;
    qint64 m_size = 0; // of the file after our last whole batch
    QElapsedTimer m_lastCheck;
#ifdef Q_OS_UNIX
    quint64 m_device = 0, m_inode = 0;
#endif
};
