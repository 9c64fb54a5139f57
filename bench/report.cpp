#include "report.h"

#include <algorithm>
#include <cstdio>

namespace {

QString verdictText(Row::Verdict v)
{
    switch (v) {
    case Row::Verdict::Pass: return QStringLiteral("PASS");
    case Row::Verdict::Miss: return QStringLiteral("MISS");
    case Row::Verdict::Info: break;
    }
    return QStringLiteral("-");
}

} // namespace

void printTable(const Rows &rows)
{
    const QString head[4] = {QStringLiteral("Figure"), QStringLiteral("Measured"),
                             QStringLiteral("Target"), QStringLiteral("Result")};
    qsizetype width[4] = {head[0].size(), head[1].size(), head[2].size(), head[3].size()};
    for (const Row &r : rows) {
        width[0] = std::max(width[0], r.figure.size());
        width[1] = std::max(width[1], r.measured.size());
        width[2] = std::max(width[2], r.target.size());
    }
    const auto line = [&](const QString (&cells)[4]) {
        QString out;
        for (int i = 0; i < 4; ++i)
            out += (i ? QStringLiteral(" | ") : QString()) + (i < 3 ? cells[i].leftJustified(width[i]) : cells[i]);
        std::printf("%s\n", out.toUtf8().constData());
    };
    line(head);
    QString rule;
    for (int i = 0; i < 4; ++i)
        rule += (i ? QStringLiteral("-+-") : QString()) + QString(width[i], QLatin1Char('-'));
    std::printf("%s\n", rule.toUtf8().constData());
    for (const Row &r : rows)
        line({r.figure, r.measured, r.target.isEmpty() ? QStringLiteral("-") : r.target, verdictText(r.verdict)});
    std::fflush(stdout);
}

bool allMet(const Rows &rows)
{
    return std::none_of(rows.begin(), rows.end(),
                        [](const Row &r) { return r.verdict == Row::Verdict::Miss; });
}
