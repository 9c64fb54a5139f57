#include "messageboxprompts.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

Prompts::Answer answerOf(int button)
{
    switch (button) {
    case QMessageBox::Yes: return Prompts::Answer::Yes;
    case QMessageBox::No: return Prompts::Answer::No;
    default: return Prompts::Answer::Cancel;
    }
}

} // namespace

QMessageBox *MessageBoxPrompts::makeNoResponseBox(QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::Critical, Prompts::NoResponseTitle,
                                Prompts::NoResponseText, QMessageBox::Yes | QMessageBox::No,
                                parent);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setTextFormat(Qt::PlainText);
    return box;
}

QMessageBox *MessageBoxPrompts::makeExitBox(QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::Question, Prompts::ExitTitle, Prompts::ExitText,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                parent);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::Cancel);
    box->setTextFormat(Qt::PlainText);
    return box;
}

Prompts::Answer MessageBoxPrompts::noResponse()
{
    std::unique_ptr<QMessageBox> box(makeNoResponseBox(m_window));
    return answerOf(box->exec());
}

Prompts::Answer MessageBoxPrompts::confirmExit()
{
    std::unique_ptr<QMessageBox> box(makeExitBox(m_window));
    return answerOf(box->exec());
}

void MessageBoxPrompts::saveRefused(const QString &reason)
{
    QMessageBox box(QMessageBox::Warning, Prompts::SaveRefusedTitle, reason, QMessageBox::Ok,
                    m_window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MessageBoxPrompts::endProgram()
{
    std::fflush(nullptr);
    std::_Exit(0);
}

void MessageBoxPrompts::warnAndGoOn(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void MessageBoxPrompts::tell(const QString &text, bool problem)
{
    QMessageBox box(problem ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("PWM Panel"), text);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
