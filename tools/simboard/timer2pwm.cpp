#include "timer2pwm.h"

#include <simavr/avr_timer.h>
#include <simavr/sim_cycle_timers.h>
#include <simavr/sim_irq.h>

namespace {

// ATmega328P data-space addresses and bits.
constexpr std::uint16_t TCCR2A = 0xB0, TCCR2B = 0xB1, OCR2A = 0xB3, OCR2B = 0xB4;
constexpr std::uint16_t DDRB = 0x24, PORTB = 0x25, DDRD = 0x2A, PORTD = 0x2B;
constexpr std::uint8_t WGM20 = 0x01, WGM21 = 0x02, WGM22 = 0x08, CS2 = 0x07;
constexpr int Top = 255;
constexpr int Prescalers[8] = {0, 1, 8, 32, 64, 128, 256, 1024};

} // namespace

Timer2Pwm::Timer2Pwm(avr_t *avr) : m_avr(avr)
{
    for (int i = 0; i < 2; ++i) {
        m_out[i].timer = this;
        m_out[i].index = i;
        m_out[i].irq = avr_io_getirq(avr, AVR_IOCTL_TIMER_GETIRQ('2'), TIMER_IRQ_OUT_COMP + i);
    }
}

bool Timer2Pwm::pwmMode() const
{
    const std::uint8_t a = m_avr->data[TCCR2A], b = m_avr->data[TCCR2B];
    return (a & (WGM20 | WGM21)) == WGM20 && !(b & WGM22);
}

int Timer2Pwm::prescaler() const
{
    return Prescalers[m_avr->data[TCCR2B] & CS2];
}

// COM2x1:0: 0 normal port, 1 normal port too in this mode (WGM22 is clear),
// 2 non-inverting, 3 inverting.
int Timer2Pwm::compareMode(const Output &out) const
{
    return (m_avr->data[TCCR2A] >> (out.index == 0 ? 6 : 4)) & 3;
}

bool Timer2Pwm::driven(const Output &out) const
{
    return out.index == 0 ? (m_avr->data[DDRB] & 0x08) : (m_avr->data[DDRD] & 0x08);
}

void Timer2Pwm::drive(Output &out, bool level)
{
    out.level = level;
    avr_raise_irq(out.irq, level && driven(out) ? 1 : 0);
}

void Timer2Pwm::poll()
{
    if (m_running || !pwmMode() || prescaler() == 0)
        return;
    // Started (or restarted) by the firmware: the counter leaves BOTTOM now.
    m_running = true;
    m_countingUp = false; // onHalf turns this into the up-count from BOTTOM
    avr_cycle_timer_register(m_avr, 1, onHalf, this);
}

avr_cycle_count_t Timer2Pwm::onHalf(avr_t *avr, avr_cycle_count_t when, void *param)
{
    auto *self = static_cast<Timer2Pwm *>(param);
    if (!self->pwmMode() || self->prescaler() == 0) {
        self->m_running = false; // outputs hold; poll() restarts
        return 0;
    }
    self->m_countingUp = !self->m_countingUp;
    const int n = self->prescaler();
    const bool atTop = !self->m_countingUp;
    const std::uint8_t compares[2] = {avr->data[OCR2A], avr->data[OCR2B]};
    for (Output &out : self->m_out) {
        avr_cycle_timer_cancel(avr, onEdge, &out);
        const int mode = self->compareMode(out);
        if (mode < 2) {
            self->drive(out, avr->data[out.index == 0 ? PORTB : PORTD] & 0x08); // the port bit
            continue;
        }
        if (atTop)
            out.compare = compares[out.index];
        const bool inverting = mode == 3;
        const int c = out.compare;
        if (c == 0 || c == Top) {
            self->drive(out, (c == Top) != inverting);
            continue;
        }
        // Counting up the match clears the output; counting down it sets it again.
        self->drive(out, self->m_countingUp != inverting);
        out.nextLevel = !out.level;
        const int ticks = self->m_countingUp ? c : Top - c;
        const avr_cycle_count_t edge = when + avr_cycle_count_t(ticks) * n;
        avr_cycle_timer_register(avr, edge > avr->cycle ? edge - avr->cycle : 1, onEdge, &out);
    }
    return when + avr_cycle_count_t(Top) * n;
}

avr_cycle_count_t Timer2Pwm::onEdge(avr_t *, avr_cycle_count_t, void *param)
{
    auto *out = static_cast<Output *>(param);
    out->timer->drive(*out, out->nextLevel);
    return 0;
}
