#pragma once

#include <QString>

// The questions the panel asks the operator, behind an interface so that tests answer them.
class Prompts
{
public:
    enum class Answer { Yes, No, Cancel };

    static const QString NoResponseText;
    static const QString NoResponseTitle;
    static const QString ExitText;
    static const QString ExitTitle;
    static const QString SaveRefusedTitle;

    virtual ~Prompts() = default;

    // A command did not reach the board: go on? Yes / No, No the default, critical icon.
    virtual Answer noResponse() = 0;
    // Close the panel? Yes / No / Cancel, Yes the default, question icon.
    virtual Answer confirmExit() = 0;
    // Says why the settings were not saved.
    virtual void saveRefused(const QString &reason) = 0;
    // Ends the program at once: nothing else runs, no question is asked.
    [[noreturn]] virtual void endProgram() = 0;
};
