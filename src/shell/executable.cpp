#include "executable.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

ExecutableIdentity ExecutableIdentity::fromArgv0(const QString &argv0, const QString &fallbackDir)
{
    QString path = argv0;
    if (!path.contains(QLatin1Char('/')) && !path.contains(QLatin1Char('\\'))) {
        // Started through PATH: find the same name there, without resolving links.
        path = QStandardPaths::findExecutable(argv0);
        if (path.isEmpty())
            path = QDir(fallbackDir).filePath(argv0);
    }
    const QFileInfo info(path);
    QString name = info.fileName();
    if (name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    if (name.isEmpty())
        name = QStringLiteral("pwmpanel");
    return {QDir::cleanPath(info.absolutePath()), name};
}
