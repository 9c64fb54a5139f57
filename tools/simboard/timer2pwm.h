#pragma once

#include <simavr/sim_avr.h>

#include <cstdint>

// Timer2 of the ATmega328P in phase-correct PWM with TOP 0xFF (WGM2 = 1), which the
// emulator does not model: the counter runs 0..255..0, 510 timer ticks a period, and each
// compare output (OC2A on PB3, OC2B on PD3) is cleared on the match counting up and set on
// the match counting down (the other way round when inverting). Compare values are taken
// at TOP; 0 holds the output low and 255 holds it high. An output drives its pin only while
// the pin's DDR bit is set; otherwise the pin reads low.
//
// The counter's position is not tracked tick by tick: one event at each BOTTOM and TOP
// reads the registers and schedules that half period's edges. In any other mode, or with
// the clock stopped, the outputs hold their level; poll() notices when the firmware
// starts the timer.
class Timer2Pwm
{
public:
    explicit Timer2Pwm(avr_t *avr);
    void poll();

private:
    struct Output {
        Timer2Pwm *timer;
        int index;          // 0: OC2A, 1: OC2B
        avr_irq_t *irq;     // the compare output, wired to the pin by the emulator
        std::uint8_t compare = 0;
        bool level = false;
        bool nextLevel = false;
    };

    static avr_cycle_count_t onHalf(avr_t *avr, avr_cycle_count_t when, void *param);
    static avr_cycle_count_t onEdge(avr_t *avr, avr_cycle_count_t when, void *param);
    bool pwmMode() const;
    int prescaler() const;
    int compareMode(const Output &out) const;
    bool driven(const Output &out) const;
    void drive(Output &out, bool level);

    avr_t *m_avr;
    Output m_out[2];
    bool m_running = false;
    bool m_countingUp = true;
};
