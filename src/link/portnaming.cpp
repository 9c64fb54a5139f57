#include "portnaming.h"

#include <QFileInfo>
#include <utility>

PortNaming::PortNaming(QString executableDir) : m_dir(std::move(executableDir)) {}

QString PortNaming::linkPathFor(int number) const
{
    return m_dir + QLatin1String("/ports/com") + QString::number(number);
}

QString PortNaming::deviceFor(int number) const
{
    if (number < 1)
        return {};
#ifdef Q_OS_WIN
    return QLatin1String("COM") + QString::number(number);
#else
    // A link (or file) beside the executable wins. A dangling link yields its own path, so
    // opening it fails as a missing device instead of silently using the fixed table.
    // Without a known executable folder there is nothing to look up.
    if (!m_dir.isEmpty()) {
        const QString link = linkPathFor(number);
        const QFileInfo info(link);
        if (info.exists() || info.isSymLink()) {
            const QString target = info.canonicalFilePath();
            return target.isEmpty() ? link : target;
        }
    }

    struct Range {
        int first;
        const char *prefix;
    };
    static constexpr Range Table[] = {{1, "/dev/ttyS"}, {1 + PerRange, "/dev/ttyUSB"},
                                       {1 + 2 * PerRange, "/dev/ttyACM"}};
    for (const Range &r : Table) {
        if (number >= r.first && number < r.first + PerRange)
            return QLatin1String(r.prefix) + QString::number(number - r.first);
    }
    return {};
#endif
}
