#include "prompts.h"

const QString Prompts::NoResponseText =
    QStringLiteral("NO RESPONSE! Check connected hardware! Do you want to continue ?");
const QString Prompts::NoResponseTitle =
    QStringLiteral("MsgBox: NO RESPONSE - COMMUNICATION ERROR!");
const QString Prompts::ExitText = QStringLiteral("Do you want to close/exit App ?");
const QString Prompts::ExitTitle = QStringLiteral("Exit Dialog");
const QString Prompts::SaveRefusedTitle = QStringLiteral("Settings not saved");
