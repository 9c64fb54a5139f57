#include "dialogs.h"

#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <cstdlib>

const QString Dialogs::NoResponseText =
    QStringLiteral("NO RESPONSE! Check connected hardware! Do you want to continue ?");
const QString Dialogs::NoResponseTitle =
    QStringLiteral("MsgBox: NO RESPONSE - COMMUNICATION ERROR!");
const QString Dialogs::ExitText = QStringLiteral("Do you want to close/exit App ?");
const QString Dialogs::ExitTitle = QStringLiteral("Exit Dialog");
const QString Dialogs::SaveRefusedTitle = QStringLiteral("Settings not saved");

namespace {

Dialogs::Answer answerOf(int button)
{
    switch (button) {
    case QMessageBox::Yes: return Dialogs::Answer::Yes;
    case QMessageBox::No: return Dialogs::Answer::No;
    default: return Dialogs::Answer::Cancel;
    }
}

} // namespace

QMessageBox *MessageBoxDialogs::makeNoResponseBox(QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::Critical, Dialogs::NoResponseTitle,
                                Dialogs::NoResponseText, QMessageBox::Yes | QMessageBox::No,
                                parent);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    box->setTextFormat(Qt::PlainText);
    return box;
}

QMessageBox *MessageBoxDialogs::makeExitBox(QWidget *parent)
{
    auto *box = new QMessageBox(QMessageBox::Question, Dialogs::ExitTitle, Dialogs::ExitText,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                parent);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::Cancel);
    box->setTextFormat(Qt::PlainText);
    return box;
}

Dialogs::Answer MessageBoxDialogs::noResponse(QWidget *parent)
{
    std::unique_ptr<QMessageBox> box(makeNoResponseBox(parent));
    return answerOf(box->exec());
}

Dialogs::Answer MessageBoxDialogs::confirmExit(QWidget *parent)
{
    std::unique_ptr<QMessageBox> box(makeExitBox(parent));
    return answerOf(box->exec());
}

void MessageBoxDialogs::saveRefused(QWidget *parent, const QString &reason)
{
    QMessageBox box(QMessageBox::Warning, Dialogs::SaveRefusedTitle, reason, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MessageBoxDialogs::endProgram()
{
    std::fflush(nullptr);
    std::_Exit(0);
}
