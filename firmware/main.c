/* The PWM board: answers the panel's commands on USART0 and drives two PWM outputs. */
#include "command.h"
#include "pwm.h"
#include "uart.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

int main(void)
{
    pwm_init();
    uart_init();
    /* Idle sleep keeps the timer and the USART running; any interrupt wakes the loop. */
    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();

    for (;;) {
        uint8_t byte;
        while (uart_get(&byte))
            command_feed(byte);

        /* Sleep only when nothing is waiting. SEI lets exactly one more instruction run
         * before an interrupt, so SLEEP is reached and the receive interrupt wakes it. */
        cli();
        if (!uart_rx_pending()) {
            sleep_enable();
            sei();
            sleep_cpu();
            sleep_disable();
        }
        sei();
    }
}
