#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A reader of CSV as spreadsheets and scripting languages read it: fields separated by
// commas, a quoted field may hold commas, CR, LF and doubled quotes; outside quotes a row
// ends with CR LF, a lone CR or a lone LF.
inline QList<QStringList> readCsv(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false, wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += c, ++i;
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == u',') {
            row << std::exchange(field, {});
            wasQuoted = false;
        } else if (c == u'\r' || c == u'\n') {
            row << std::exchange(field, {});
            rows << std::exchange(row, {});
            wasQuoted = false;
            i += c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows << (row << field);
    return rows;
}
