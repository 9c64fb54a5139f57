#include "pinprobe.h"

#include <simavr/sim_avr.h>
#include <simavr/sim_irq.h>

void PinProbe::attach(avr_t *avr, avr_irq_t *irq)
{
    m_avr = avr;
    avr_irq_register_notify(
        irq,
        [](avr_irq_t *, std::uint32_t value, void *param) {
            auto *self = static_cast<PinProbe *>(param);
            // The low byte is the level; higher bits carry the emulator's flags.
            self->change((value & 0xFF) != 0, self->m_avr->cycle);
        },
        this);
}

std::uint64_t PinProbe::highUntil(std::uint64_t cycle) const
{
    return m_high + (m_level ? cycle - m_lastChange : 0);
}

void PinProbe::change(bool level, std::uint64_t cycle)
{
    if (level == m_level)
        return;
    m_high = highUntil(cycle);
    m_lastChange = cycle;
    m_level = level;
    if (!level)
        return;
    if (m_rises++ == 0) {
        m_firstRise = cycle;
        m_highAtFirstRise = m_high;
    }
    m_lastRise = cycle;
    m_highAtLastRise = m_high;
}

void PinProbe::startWindow(std::uint64_t cycle)
{
    m_windowStart = m_lastChange = cycle;
    m_high = 0;
    m_rises = 0;
}

PinProbe::Reading PinProbe::endWindow(std::uint64_t cycle, double cyclesPerSecond) const
{
    Reading r;
    if (m_rises >= 2) {
        const double span = double(m_lastRise - m_firstRise);
        r.hz = double(m_rises - 1) * cyclesPerSecond / span;
        r.dutyPercent = 100.0 * double(m_highAtLastRise - m_highAtFirstRise) / span;
    } else if (cycle > m_windowStart) {
        r.dutyPercent = 100.0 * double(highUntil(cycle)) / double(cycle - m_windowStart);
    }
    return r;
}
