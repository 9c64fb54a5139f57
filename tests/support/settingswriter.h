#pragma once

#include "shell/settingsfile.h"

// The two settings files the settings writer alternates between: both complete, of very
// different lengths, so that a torn or mixed file cannot pass for either.
namespace SettingsWriter {

inline QString content(int which)
{
    StoredSettings s;
    s.ucApp = QStringLiteral("ORVIX7");
    if (which == 0) {
        s.userLabel1 = QStringLiteral("Fan");
        s.userLabel2 = QStringLiteral("Pump");
    } else {
        s.sTime = 5;
        s.userLabel1 = QString(60000, QLatin1Char('A'));
        s.userLabel2 = QString(60000, QLatin1Char('B'));
    }
    return SettingsFile::compose(s);
}

} // namespace SettingsWriter
