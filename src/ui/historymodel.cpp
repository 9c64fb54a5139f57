#include "historymodel.h"

#include "history/csvformat.h"
#include "history/historyring.h"
#include "link/eightbittext.h"

#include <QDateTime>

HistoryModel::HistoryModel(const HistoryRing &ring, QObject *parent) : QAbstractTableModel(parent), m_ring(ring)
{
    m_first = m_end = ring.firstSerial();
    refresh();
}

qsizetype HistoryModel::refresh()
{
    const quint64 first = m_ring.firstSerial();
    const quint64 end = m_ring.endSerial();
    if (first >= m_end) {
        // Nothing shown is left (cleared, or more came than the ring holds).
        if (m_end > m_first) {
            beginResetModel();
            m_first = first;
            m_end = end;
            endResetModel();
            return qsizetype(end - first);
        }
        m_first = m_end = first;
    } else if (first > m_first) {
        beginRemoveRows({}, 0, int(first - m_first) - 1);
        m_first = first;
        endRemoveRows();
    }
    if (end > m_end) {
        beginInsertRows({}, int(m_end - m_first), int(end - m_first) - 1);
        const qsizetype added = qsizetype(end - m_end);
        m_end = end;
        endInsertRows();
        return added;
    }
    return 0;
}

qsizetype HistoryModel::ringIndex(int row) const
{
    const quint64 serial = m_first + quint64(row);
    if (serial < m_ring.firstSerial() || serial >= m_ring.endSerial())
        return -1;
    return qsizetype(serial - m_ring.firstSerial());
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_end - m_first);
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    const qsizetype at = index.isValid() ? ringIndex(index.row()) : -1;
    if (at < 0)
        return {};
    const HistoryRing::Entry e = m_ring.at(at);
    const bool sent = e.direction == HistoryRing::Direction::Sent;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn: return QDateTime::fromMSecsSinceEpoch(e.msecs).toString(QStringLiteral("HH:mm:ss.zzz"));
        case DirectionColumn:
            if (e.client != 0)
                return QString::fromLatin1(CsvFormat::direction(e));
            return sent ? tr("sent") : e.cut ? tr("received (cut)") : tr("received");
        case TextColumn: return EightBitText::visible(e.text);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == TimeColumn)
            return QDateTime::fromMSecsSinceEpoch(e.msecs).toString(Qt::ISODateWithMs);
        if (e.cut && index.column() != TimeColumn)
            return tr("The line was longer: only its first %1 bytes are kept.").arg(QLocale().toString(e.text.size()));
        break;
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn: return tr("Time");
    case DirectionColumn: return tr("Direction");
    case TextColumn: return tr("Text");
    }
    return {};
}
