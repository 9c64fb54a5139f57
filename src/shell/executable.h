#pragma once

#include <QString>

// Where the program was started from and under which name. The name is the one it was
// started by (argv[0]), not the target of a link, so that a link under another name acts as
// a copy with its own settings file.
struct ExecutableIdentity {
    QString dir;      // absolute folder of the started path
    QString baseName; // file name without folder and without a trailing ".exe"

    static ExecutableIdentity fromArgv0(const QString &argv0, const QString &fallbackDir);
    QString settingsPath() const { return dir + QLatin1Char('/') + baseName + QStringLiteral(".ini"); }
};
