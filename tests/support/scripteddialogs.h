#pragma once

#include "shell/dialogs.h"

#include <QList>
#include <QStringList>

// Answers the program's questions from a script and records what was asked.
class ScriptedDialogs final : public Dialogs
{
public:
    struct ProgramEnded {};

    QList<Answer> noResponseAnswers; // taken in order; Yes when empty
    QList<Answer> exitAnswers;
    int noResponseCount = 0;
    int exitCount = 0;
    QStringList refusals;
    bool ended = false;

    Answer noResponse(QWidget *) override
    {
        ++noResponseCount;
        return noResponseAnswers.isEmpty() ? Answer::Yes : noResponseAnswers.takeFirst();
    }
    Answer confirmExit(QWidget *) override
    {
        ++exitCount;
        return exitAnswers.isEmpty() ? Answer::Cancel : exitAnswers.takeFirst();
    }
    void saveRefused(QWidget *, const QString &reason) override { refusals << reason; }
    [[noreturn]] void endProgram() override
    {
        ended = true;
        throw ProgramEnded{};
    }
};
