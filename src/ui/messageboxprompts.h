#pragma once

#include "shell/prompts.h"

#include <QPointer>
#include <QWidget>

class QMessageBox;

// The panel's questions as message boxes over its window.
class MessageBoxPrompts final : public Prompts
{
public:
    void setWindow(QWidget *window) { m_window = window; }

    Answer noResponse() override;
    Answer confirmExit() override;
    void saveRefused(const QString &reason) override;
    [[noreturn]] void endProgram() override;

    // A warning that leaves the panel working: shown beside it, nothing waits for an answer.
    void warnAndGoOn(const QString &title, const QString &text);
    // What a program started from a console would print, before any window is shown.
    static void tell(const QString &text, bool problem);

    // The boxes as shown, for inspection.
    static QMessageBox *makeNoResponseBox(QWidget *parent);
    static QMessageBox *makeExitBox(QWidget *parent);

private:
    QPointer<QWidget> m_window;
};
