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

// Where the panel pauses after a command. Anything may run inside a pause: a reply line, a
// timer tick, the operator's click, another command; callers hold no state across it.
class Pacer
{
public:
    virtual ~Pacer() = default;
    virtual void pause() = 0;
};

class EventLoopPacer final : public Pacer
{
public:
    void pause() override { PacingWait::run(); }
};
