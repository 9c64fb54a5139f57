#pragma once

#include <QAbstractTableModel>

class HistoryRing;

// The history ring as a table: time, direction, text; oldest at the top. A view over the ring,
// never a copy of it: refresh() tells the view which rows the ring dropped at the front and
// which it added at the end since the last refresh. Text is shown as plain characters, with
// control characters as their visible symbols.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, TextColumn, ColumnCount };

    explicit HistoryModel(const HistoryRing &ring, QObject *parent = nullptr);

    // Catches up with the ring; returns the number of rows added.
    qsizetype refresh();
    // The row's position in the ring, or -1 when the ring has dropped it since the last refresh.
    qsizetype ringIndex(int row) const;
    // The ring's running number of row 0.
    quint64 firstSerial() const { return m_first; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const HistoryRing &m_ring;
    quint64 m_first = 0; // running number of row 0
    quint64 m_end = 0;   // running number after the last row
};
