#pragma once

#include "link/pacingwait.h"

#include <QList>

#include <functional>

// Pauses that take no time: each runs the next action the test queued, standing for whatever
// the event loop might deliver inside a real pause (a reply, a tick, a click, a question).
class ScriptedPacer final : public Pacer
{
public:
    int pauses = 0;
    QList<std::function<void()>> actions;

    void pause() override
    {
        ++pauses;
        if (!actions.isEmpty())
            actions.takeFirst()();
    }
};
