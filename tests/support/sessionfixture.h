#pragma once

#include "fakeserialcontrol.h"
#include "scriptedpacer.h"
#include "scriptedprompts.h"
#include "shell/session.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace Qt::StringLiterals;

// What the window would show, as the session's signals said it.
struct Screen {
    QString status = u"--"_s;
    Session::StatusKind kind = Session::StatusKind::Waiting;
    std::array<QString, 3> readback{QString(), u"-"_s, u"-"_s};
    int highlight = 0;
    QString deviceCode = u"???"_s;
    std::array<QString, 3> labels;
    Session::SettingsForm form;
    std::array<QString, 3> setpointBox;
    Session::View view = Session::View::Main;
    bool held = false;
    bool unlocked = false;
    int statusChanges = 0;

    void watch(Session &s)
    {
        QObject::connect(&s, &Session::statusChanged, [this](const QString &t, Session::StatusKind k) {
            status = t;
            kind = k;
            ++statusChanges;
        });
        QObject::connect(&s, &Session::readbackChanged, [this](int i, const QString &t) { readback[i] = t; });
        QObject::connect(&s, &Session::frequencyHighlightChanged, [this](int c) { highlight = c; });
        QObject::connect(&s, &Session::deviceCodeChanged, [this](const QString &t) { deviceCode = t; });
        QObject::connect(&s, &Session::outputLabelChanged, [this](int i, const QString &t) { labels[i] = t; });
        QObject::connect(&s, &Session::settingsFormChanged, [this](const Session::SettingsForm &f) { form = f; });
        QObject::connect(&s, &Session::setpointBoxChanged, [this](int i, const QString &t) { setpointBox[i] = t; });
        QObject::connect(&s, &Session::viewChanged, [this](Session::View v) { view = v; });
        QObject::connect(&s, &Session::inputHeldChanged, [this](bool h) { held = h; });
        QObject::connect(&s, &Session::frequencyLockChanged, [this](bool u) { unlocked = u; });
    }
};

// A session over the fake serial control, with scripted questions and pauses, started from
// a temporary folder as "pwmpanel".
struct SessionFixture {
    QTemporaryDir dir;
    FakeSerialControl serial;
    ScriptedPacer pacer;
    ScriptedPrompts prompts;
    BoardLink link{serial, pacer};
    std::unique_ptr<Session> session;
    Screen screen;

    explicit SessionFixture(const QByteArray *settingsFile = nullptr, bool start = true)
    {
        if (settingsFile) {
            QFile f(iniPath());
            if (f.open(QIODevice::WriteOnly))
                f.write(*settingsFile);
        }
        session = std::make_unique<Session>(ExecutableIdentity{dir.path(), u"pwmpanel"_s}, link, prompts);
        screen.watch(*session);
        if (start)
            session->start();
    }
    explicit SessionFixture(const QByteArray &settingsFile) : SessionFixture(&settingsFile) {}

    Session &s() { return *session; }
    QString iniPath() const { return dir.filePath(u"pwmpanel.ini"_s); }
    QByteArray iniBytes() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool statusIs(const QString &text, Session::StatusKind kind) const
    {
        return screen.status == text && screen.kind == kind;
    }
    // Opens the port and identifies the board as the search would.
    void identify()
    {
        link.searchStep();
        serial.feedNow(session->state().ucApp.toLatin1() + '\r');
        serial.written.clear();
    }
};

inline QByteArray settingsWithSTime(int sTime)
{
    return QStringLiteral("1,\"9600\",\"-\",%1,\"ORVIX7\"\r\n\"a\",\"b\"\r\n").arg(sTime).toLatin1();
}
