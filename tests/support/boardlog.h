#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

// The virtual board's log of every command it received: one line each, its monotonic time in
// milliseconds, a space and the command.
struct BoardLog {
    struct Received {
        double ms;
        QString command;
    };

    QString path;

    QList<Received> received() const
    {
        QList<Received> out;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                out.append({line.left(space).toDouble(), QString::fromLatin1(line.mid(space + 1))});
        }
        return out;
    }
    QStringList commands() const
    {
        QStringList out;
        for (const Received &r : received())
            out << r.command;
        return out;
    }
    // Times of each occurrence of `command`, in order.
    QList<double> timesOf(const QString &command) const
    {
        QList<double> out;
        for (const Received &r : received())
            if (r.command == command)
                out << r.ms;
        return out;
    }
};
