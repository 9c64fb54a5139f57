#include "uart.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>

#define BAUD 9600
#include <util/setbaud.h>

/* Queue sizes are powers of two so the indices wrap with a mask. */
#define RX_SIZE 64u
#define TX_SIZE 64u
#define RX_MASK (RX_SIZE - 1u)
#define TX_MASK (TX_SIZE - 1u)

static volatile uint8_t rx_buf[RX_SIZE];
static volatile uint8_t rx_head; /* written by the receive interrupt */
static volatile uint8_t rx_tail; /* written by the main loop */
static bool rx_discarding;        /* receive interrupt only */

static volatile uint8_t tx_buf[TX_SIZE];
static volatile uint8_t tx_head; /* written by the main loop */
static volatile uint8_t tx_tail; /* written by the data-register-empty interrupt */

void uart_init(void)
{
    UBRR0H = UBRRH_VALUE;
    UBRR0L = UBRRL_VALUE;
#if USE_2X
    UCSR0A = _BV(U2X0);
#else
    UCSR0A = 0;
#endif
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00); /* 8 data bits, no parity, 1 stop bit */
    UCSR0B = _BV(RXEN0) | _BV(TXEN0) | _BV(RXCIE0);
}

static uint8_t rx_free(void)
{
    return (uint8_t)((rx_tail - rx_head - 1u) & RX_MASK);
}

static void rx_push(uint8_t byte)
{
    rx_buf[rx_head] = byte;
    rx_head = (uint8_t)((rx_head + 1u) & RX_MASK);
}

/* When the queue overflows, everything up to the next CR is discarded, and that CR goes
 * in behind a NUL: the line reader drops a line with a NUL in it, so every line the gap
 * touched is dropped whole instead of being glued to its neighbour. */
ISR(USART_RX_vect)
{
    const uint8_t byte = UDR0; /* reading clears the interrupt, also after a framing error */
    if (rx_discarding) {
        if (byte == '\r' && rx_free() >= 2) {
            rx_push(0);
            rx_push(byte);
            rx_discarding = false;
        }
        return;
    }
    if (rx_free() == 0) {
        rx_discarding = true;
        return;
    }
    rx_push(byte);
}

ISR(USART_UDRE_vect)
{
    if (tx_tail == tx_head) {
        UCSR0B &= (uint8_t)~_BV(UDRIE0);
        return;
    }
    UDR0 = tx_buf[tx_tail];
    tx_tail = (uint8_t)((tx_tail + 1u) & TX_MASK);
}

bool uart_rx_pending(void)
{
    return rx_head != rx_tail;
}

bool uart_get(uint8_t *byte)
{
    /* Single reader, single writer, one-byte indices: no lock needed. */
    const uint8_t tail = rx_tail;
    if (tail == rx_head)
        return false;
    *byte = rx_buf[tail];
    rx_tail = (uint8_t)((tail + 1u) & RX_MASK);
    return true;
}

void uart_put(uint8_t byte)
{
    const uint8_t next = (uint8_t)((tx_head + 1u) & TX_MASK);
    /* The queue drains at the line rate whatever the other side does, so this wait is
     * bounded. Interrupts stay enabled while waiting: the sending interrupt wakes us. */
    for (;;) {
        cli();
        if (next != tx_tail)
            break;
        sleep_enable();
        sei();
        sleep_cpu();
        sleep_disable();
    }
    tx_buf[tx_head] = byte;
    tx_head = next;
    UCSR0B |= _BV(UDRIE0);
    sei();
}

void uart_puts(const char *text)
{
    while (*text)
        uart_put((uint8_t)*text++);
}
