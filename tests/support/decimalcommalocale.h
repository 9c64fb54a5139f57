#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

// A German locale, whose decimal separator is a comma. On Linux it is built into a temporary
// folder from the system's locale sources (Debian package `locales`), with LOCPATH pointing
// there: so the tests that need it run on any machine, whatever locales it has generated.
// Windows has it already.
class DecimalCommaLocale
{
public:
#ifdef Q_OS_WIN
    static constexpr const char *Name = "German_Germany.1252";
#else
    static constexpr const char *Name = "de_DE.UTF-8";
#endif

    // Empty when the locale is ready; otherwise what went wrong.
    QString build()
    {
#ifdef Q_OS_WIN
        return {};
#else
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                         QStringLiteral("UTF-8"), m_dir.filePath(QLatin1String(Name))});
        if (!localedef.waitForFinished(60000))
            return QStringLiteral("localedef did not run: ") + localedef.errorString();
        // localedef exits 1 on mere warnings; what counts is the compiled locale.
        if (!QFileInfo::exists(m_dir.filePath(QLatin1String(Name) + QStringLiteral("/LC_NUMERIC"))))
            return QStringLiteral("localedef made no de_DE locale (is the package locales "
                                  "installed?): ")
                   + QString::fromLocal8Bit(localedef.readAllStandardError());
        qputenv("LOCPATH", QFile::encodeName(m_dir.path()));
        return {};
#endif
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
