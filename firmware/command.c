#include "command.h"

#include "pwm.h"
#include "uart.h"

#include <stdlib.h>
#include <string.h>

static char line[COMMAND_MAX + 1];
static uint8_t length;
static bool dropping; /* inside an overlong or damaged line: skip up to its CR */

static void reply_number(const char *key, uint8_t value)
{
    char digits[4];
    utoa(value, digits, 10);
    uart_puts(key);
    uart_put('=');
    uart_puts(digits);
    uart_put('\r');
}

/* A whole number made only of decimal digits, at most max; -1 for anything else. */
static int16_t whole_number(const char *text, uint8_t max)
{
    if (*text == '\0')
        return -1;
    uint16_t value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return -1;
        value = (uint16_t)(value * 10u + (uint16_t)(*text - '0'));
        if (value > max)
            return -1;
    }
    return (int16_t)value;
}

/* SVn1 keys name the setpoints, SV01 the frequency code. */
static void handle_setting(const char *key, const char *rest)
{
    const bool frequency = key[2] == '0';
    const uint8_t output = key[2] == '1' ? 1 : 2;
    if (rest[0] == '=') {
        const int16_t value = whole_number(rest + 1, frequency ? PWM_CODE_MAX : PWM_DUTY_MAX);
        if (frequency && value >= (int16_t)PWM_CODE_MIN)
            pwm_set_code((uint8_t)value);
        else if (!frequency && value >= 0)
            pwm_set_duty(output, (uint8_t)value);
        /* Out of range or not a number: nothing changes, the answer says what holds. */
    } else if (!(rest[0] == '?' && rest[1] == '\0')) {
        return;
    }
    reply_number(key, frequency ? pwm_code() : pwm_setpoint(output));
}

static void handle(const char *cmd)
{
    if (strcmp(cmd, "I?") == 0) {
        uart_puts(BOARD_NAME "\r");
    } else if (strcmp(cmd, "PV01?") == 0 || strcmp(cmd, "PV02?") == 0) {
        const char key[] = {'P', 'V', '0', cmd[3], '\0'};
        reply_number(key, pwm_applied(cmd[3] == '1' ? 1 : 2));
    } else if (strncmp(cmd, "SV01", 4) == 0 || strncmp(cmd, "SV11", 4) == 0
               || strncmp(cmd, "SV21", 4) == 0) {
        const char key[] = {cmd[0], cmd[1], cmd[2], cmd[3], '\0'};
        handle_setting(key, cmd + 4);
    }
    /* Anything else gets no answer. */
}

void command_feed(uint8_t byte)
{
    if (byte == '\n')
        return;
    if (byte == '\r') {
        if (!dropping && length > 0) {
            line[length] = '\0';
            handle(line);
        }
        dropping = false;
        length = 0;
        return;
    }
    if (dropping)
        return;
    if (length == COMMAND_MAX || byte == '\0') {
        /* Too long for the buffer, or a NUL: on the line, or standing for lost bytes. */
        dropping = true;
        length = 0;
        return;
    }
    line[length++] = (char)byte;
}
