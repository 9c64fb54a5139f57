/* The two PWM outputs on Timer2: output 1 on OC2A (PB3, the Uno's pin 11), output 2 on
 * OC2B (PD3, pin 3). Phase-correct 8-bit PWM, so the frequency is F_CPU / 510 / N. */
#ifndef PWMBOARD_PWM_H
#define PWMBOARD_PWM_H

#include <stdbool.h>
#include <stdint.h>

#define PWM_CODE_MIN 1u
#define PWM_CODE_MAX 7u /* codes 1..7 are the prescalers 1, 8, 32, 64, 128, 256, 1024 */
#define PWM_DUTY_MAX 100u

/* Starts both outputs at 0 % with code 3 (980 Hz at 16 MHz). */
void pwm_init(void);

uint8_t pwm_code(void);
void pwm_set_code(uint8_t code); /* code must be within PWM_CODE_MIN..PWM_CODE_MAX */

/* output is 1 or 2. */
uint8_t pwm_setpoint(uint8_t output);
void pwm_set_duty(uint8_t output, uint8_t percent); /* percent must be at most 100 */

/* The duty in percent that the compare register of the output holds right now. */
uint8_t pwm_applied(uint8_t output);

/* The compare value for a duty: round(percent * 255 / 100), halves up. */
uint8_t pwm_compare_for(uint8_t percent);

#endif
