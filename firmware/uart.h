/* USART0 at 9600 8N1 with interrupt-driven receive and transmit queues. */
#ifndef PWMBOARD_UART_H
#define PWMBOARD_UART_H

#include <stdbool.h>
#include <stdint.h>

void uart_init(void);

/* Takes the next received byte into *byte; false when none is waiting. After an overflow
 * of the receive queue a NUL stands for the lost bytes (see uart.c). */
bool uart_get(uint8_t *byte);

/* True when a received byte is waiting; call with interrupts disabled to decide on sleep. */
bool uart_rx_pending(void);

/* Queues a byte for sending. Waits (asleep) only while the send queue is full. */
void uart_put(uint8_t byte);
void uart_puts(const char *text);

#endif
