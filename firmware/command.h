/* The board's command line: assembles received bytes into lines and answers them. */
#ifndef PWMBOARD_COMMAND_H
#define PWMBOARD_COMMAND_H

#include <stdbool.h>
#include <stdint.h>

#ifndef BOARD_NAME
#define BOARD_NAME "ORVIX7"
#endif

/* The longest line kept; a longer one is dropped whole, up to its CR. */
#define COMMAND_MAX 32u

/* Takes one received byte; answers when it completes a command. A line holding a NUL is
 * dropped whole. */
void command_feed(uint8_t byte);

#endif
