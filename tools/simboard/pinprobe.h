#pragma once

#include <cstdint>

struct avr_t;
struct avr_irq_t;

// Measures one pin from its level changes: frequency from the rising edges in a window,
// duty from the high time over the whole periods between the first and the last of them.
// A window with fewer than two rising edges has no frequency (0) and the duty of the
// window as a whole, which is what a constant level gives.
class PinProbe
{
public:
    struct Reading {
        double hz = 0;
        double dutyPercent = 0;
    };

    explicit PinProbe(const char *name) : m_name(name) {}
    const char *name() const { return m_name; }

    // Follows the pin behind irq, timing changes by the emulator's cycle counter.
    void attach(avr_t *avr, avr_irq_t *irq);

    void change(bool level, std::uint64_t cycle);
    void startWindow(std::uint64_t cycle);
    Reading endWindow(std::uint64_t cycle, double cyclesPerSecond) const;

private:
    std::uint64_t highUntil(std::uint64_t cycle) const;

    const char *m_name;
    avr_t *m_avr = nullptr;
    bool m_level = false;
    std::uint64_t m_windowStart = 0;
    std::uint64_t m_lastChange = 0;
    std::uint64_t m_high = 0; // high cycles from the window start to m_lastChange
    unsigned m_rises = 0;
    std::uint64_t m_firstRise = 0, m_lastRise = 0;
    std::uint64_t m_highAtFirstRise = 0, m_highAtLastRise = 0;
};
