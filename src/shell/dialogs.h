#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// The program's modal questions, behind an interface so that tests can answer them.
class Dialogs
{
public:
    enum class Answer { Yes, No, Cancel };

    static const QString NoResponseText;
    static const QString NoResponseTitle;
    static const QString ExitText;
    static const QString ExitTitle;
    static const QString SaveRefusedTitle;

    virtual ~Dialogs() = default;

    // Yes / No, No the default, critical icon.
    virtual Answer noResponse(QWidget *parent) = 0;
    // Yes / No / Cancel, Yes the default, question icon.
    virtual Answer confirmExit(QWidget *parent) = 0;
    // Says why the settings were not saved.
    virtual void saveRefused(QWidget *parent, const QString &reason) = 0;
    // Ends the program at once: nothing else runs, no question is asked.
    [[noreturn]] virtual void endProgram() = 0;
};

class MessageBoxDialogs final : public Dialogs
{
public:
    Answer noResponse(QWidget *parent) override;
    Answer confirmExit(QWidget *parent) override;
    void saveRefused(QWidget *parent, const QString &reason) override;
    [[noreturn]] void endProgram() override;

    // The boxes as shown, for inspection.
    static QMessageBox *makeNoResponseBox(QWidget *parent);
    static QMessageBox *makeExitBox(QWidget *parent);
};
