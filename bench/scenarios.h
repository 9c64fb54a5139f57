#pragma once

#include "report.h"

#include <QtGlobal>
#include <chrono>

struct BenchPanel;

// Each scenario measures, checks its figures against their targets and returns its rows.

// Process start to the panel's first paint, in child processes of `self`; median of `runs`.
// Runs before this process creates its own application object.
Rows benchStartup(const char *self, int runs);
// The child's side: builds the panel as the program does, shows it and reports the paint.
int startupProbe(int argc, char **argv);

// CPU share and resident memory while connected and polling, over `span`.
Rows benchIdle(BenchPanel &panel, std::chrono::milliseconds span);

// About `bytes` of reply lines as fast as the line takes them, with a heartbeat timer.
// `connected`: the panel has found the board (BenchPanel::waitConnected).
Rows benchFlood(BenchPanel &panel, bool connected, qsizetype bytes);

// `replies` single read-back replies, each timed from the board's write to shown.
Rows benchLatency(BenchPanel &panel, bool connected, int replies);

// A chatty board for a long time: resident memory and CPU printed every `interval` seconds,
// growth after the warm-up against its target.
struct SoakOptions {
    int seconds = 600;
    int rate = 2000;         // reply lines a second
    int interval = 10;       // seconds between printed samples
    int warmupSeconds = 30;  // growth is counted from the sample at or after this
    // With the history window open and every line recorded to a file, and a history ring
    // small enough to be full before the warm-up ends.
    bool history = false;
    static constexpr qsizetype HistoryEntries = 20'000;
    static constexpr qsizetype HistoryBytes = 1024 * 1024;
    static constexpr qsizetype HistoryTrendPoints = 5'000;
};
Rows benchSoak(BenchPanel &panel, const SoakOptions &options);

// `changes` frequency highlight changes after a warm-up, each written alone and painted.
Rows benchHighlight(BenchPanel &panel, int changes);

// The history window's trend drawn from four full series at each span and zoomed to 10 s.
Rows benchTrend();

// `waits` pacing waits, and a busy processEvents loop of the same length for comparison.
Rows benchPacing(int waits);
