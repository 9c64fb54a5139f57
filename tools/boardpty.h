#pragma once

#include <string>

// The board's end of a pseudo-terminal, for the programs that play a board (the virtual
// board and the emulated one). Plain POSIX.
struct BoardPty {
    int master = -1;       // non-blocking; what the board reads and writes
    int slave = -1;        // held open for good: the master never sees a hang-up while the
                           // panel has the port closed, and the raw settings persist
    std::string slavePath; // /dev/pts/N
};

// Opens a pty with its slave in raw mode; `program` names the caller in error messages.
bool openBoardPty(BoardPty &pty, const char *program);

// Points link at target, replacing an older link atomically; refuses to replace anything
// that is not a symbolic link. Creates the link's folder if missing.
bool makeLink(const std::string &target, const std::string &link, const char *program);

// Removes link only if it still points at target (someone may have re-pointed it).
void removeLink(const std::string &target, const std::string &link);

// A descriptor that becomes readable when SIGINT, SIGTERM or SIGHUP arrives, for the main
// loop to poll; SIGPIPE is ignored. -1 (with a message) when it cannot be set up.
int stopSignalFd(const char *program);
