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
    if (m_file.size() == 0)
        m_pending = CsvFormat::header();
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
    if (m_file.write(m_pending) != m_pending.size())
        return fail(tr("Recording to %1 stopped: %2").arg(m_file.fileName(), m_file.errorString()));
    m_pending.resize(0); // keeps its capacity for the next batch
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
