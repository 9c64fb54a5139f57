#pragma once

#include <QString>
#include <vector>

// One line of the result table: a figure, what was measured, the target and the verdict.
struct Row {
    enum class Verdict { Pass, Miss, Info };

    QString figure;
    QString measured;
    QString target; // empty for figures shown only for comparison
    Verdict verdict = Verdict::Info;

    static Verdict check(bool met) { return met ? Verdict::Pass : Verdict::Miss; }
};

using Rows = std::vector<Row>;

// Prints the rows as an aligned text table on stdout.
void printTable(const Rows &rows);

// True when no row missed its target.
bool allMet(const Rows &rows);
