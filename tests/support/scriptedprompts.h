#pragma once

#include "shell/prompts.h"

#include <QList>
#include <QStringList>

// Answers the panel's questions from a script and records what was asked.
class ScriptedPrompts final : public Prompts
{
public:
    struct ProgramEnded {};

    QList<Answer> noResponseAnswers; // taken in order; Yes when empty
    QList<Answer> exitAnswers;       // Cancel when empty
    int noResponseCount = 0;
    int exitCount = 0;
    QStringList refusals;
    bool ended = false;

    Answer noResponse() override
    {
        ++noResponseCount;
        return noResponseAnswers.isEmpty() ? Answer::Yes : noResponseAnswers.takeFirst();
    }
    Answer confirmExit() override
    {
        ++exitCount;
        return exitAnswers.isEmpty() ? Answer::Cancel : exitAnswers.takeFirst();
    }
    void saveRefused(const QString &reason) override { refusals << reason; }
    [[noreturn]] void endProgram() override
    {
        ended = true;
        throw ProgramEnded{};
    }
};
