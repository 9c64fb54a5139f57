#pragma once

#include <chrono>

// The pause after each command: lets every pending event run (timer ticks, received lines,
// clicks) for at least `interval`, measured on a monotonic clock so that midnight or a clock
// change cannot stretch it. It sleeps in a nested event loop; it never spins.
class PacingWait
{
public:
    static constexpr std::chrono::milliseconds Interval{50};

    static void run(std::chrono::milliseconds interval = Interval);
};
