#include "pwm.h"

#include <avr/io.h>

#define PWM_CODE_START 3u

static uint8_t setpoints[2];

uint8_t pwm_compare_for(uint8_t percent)
{
    return (uint8_t)(((uint16_t)percent * 255u + 50u) / 100u);
}

void pwm_init(void)
{
    OCR2A = 0;
    OCR2B = 0;
    TCNT2 = 0;
    /* Non-inverting on both compare outputs, phase-correct PWM with TOP 0xFF (WGM2 = 1).
     * A compare value of 0 keeps the output low, 255 keeps it high. */
    TCCR2A = _BV(COM2A1) | _BV(COM2B1) | _BV(WGM20);
    TCCR2B = PWM_CODE_START;
    DDRB |= _BV(DDB3);
    DDRD |= _BV(DDD3);
}

uint8_t pwm_code(void)
{
    return TCCR2B & (_BV(CS22) | _BV(CS21) | _BV(CS20));
}

void pwm_set_code(uint8_t code)
{
    /* The clock select bits of Timer2 number its prescalers 1..1024 in exactly the
     * order of the codes; WGM22 stays clear. */
    TCCR2B = code & (_BV(CS22) | _BV(CS21) | _BV(CS20));
}

uint8_t pwm_setpoint(uint8_t output)
{
    return setpoints[output == 2];
}

void pwm_set_duty(uint8_t output, uint8_t percent)
{
    const uint8_t compare = pwm_compare_for(percent);
    setpoints[output == 2] = percent;
    /* The timer takes a new compare value at TOP, so no glitch mid-period. */
    if (output == 2)
        OCR2B = compare;
    else
        OCR2A = compare;
}

uint8_t pwm_applied(uint8_t output)
{
    const uint8_t compare = output == 2 ? OCR2B : OCR2A;
    return (uint8_t)(((uint16_t)compare * 100u + 127u) / 255u);
}
