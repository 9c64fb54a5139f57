#include "recorder.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// How often the path is checked for the file having been removed or replaced.
constexpr qint64 CheckIntervalMs = 1000;
} // namespace

Recorder::Recorder(const QString &path, QObject *parent) : QObject(parent), m_file(path) {}

bool Recorder::open()
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(tr("Cannot record to %1: %2").arg(m_file.fileName(), m_file.errorString()));
        return false;
    }
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::fstat(m_file.handle(), &st) == 0)
        m_device = st.st_dev, m_inode = st.st_ino;
#endif
    m_lastCheck.start();
    m_size = m_file.size();
    if (m_size == 0)
        m_pending = CsvFormat::header();
    else if (!endsWithALineEnd())
        m_pending = QByteArrayLiteral("\r\n");
    flush();
    return isRecording();
}

void Recorder::add(const HistoryRing::Entry &entry)
{
    if (isRecording())
        m_format.appendRow(m_pending, entry);
}

void Recorder::flush()
{
    if (m_pending.isEmpty() || !isRecording())
        return;
    if (!stillTheSameFile())
        return fail(tr("Recording to %1 stopped: the file was removed or replaced").arg(m_file.fileName()));
    // Unbuffered, a write the system took only part of comes back short with no error set;
    // writing the rest again either goes on or fails with the system's reason.
    qint64 written = 0;
    while (written < m_pending.size()) {
        const qint64 n = m_file.write(m_pending.constData() + written, m_pending.size() - written);
        if (n <= 0)
            return failWriting(written);
        written += n;
    }
    m_size += written;
    m_pending.resize(0); // keeps its capacity for the next batch
}

void Recorder::failWriting(qint64 written)
{
    const QString reason = m_file.error() == QFileDevice::ResourceError ? tr("the disk is full")
                           : m_file.error() != QFileDevice::NoError   ? m_file.errorString()
                                                                      : tr("the file took no more");
    // The part of the batch that made it would be a torn row: taken back, unless the file has
    // grown by more than that meanwhile (another writer), so that nothing else is cut off.
    if (written > 0 && m_file.size() == m_size + written)
        m_file.resize(m_size);
    fail(tr("Recording to %1 stopped: %2").arg(m_file.fileName(), reason));
}

// Read through a file of its own: ours is open for writing only.
bool Recorder::endsWithALineEnd() const
{
    QFile file(m_file.fileName());
    char last = '\n';
    if (file.open(QIODevice::ReadOnly) && file.seek(file.size() - 1))
        file.getChar(&last);
    return last == '\n' || last == '\r';
}

bool Recorder::stillTheSameFile()
{
    if (m_lastCheck.elapsed() < CheckIntervalMs)
        return true;
    m_lastCheck.start();
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::stat(QFile::encodeName(m_file.fileName()).constData(), &st) == 0 && st.st_dev == m_device
           && st.st_ino == m_inode;
#else
    return QFileInfo::exists(m_file.fileName());
#endif
}

void Recorder::fail(const QString &message)
{
    m_file.close();
    m_pending = {};
    emit failed(message);
}
