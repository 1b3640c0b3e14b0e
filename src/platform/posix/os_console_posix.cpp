#include <cerrno>
#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "platform/os_console.h"

// A reader that goes away makes writes fail, as on Windows, instead of ending
// the process before it stops the library.
void OsConsoleInit() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::ptrdiff_t OsReadStandardInput(void*, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, buffer, capacity);
        if (count >= 0 || errno != EINTR) {
            return count;
        }
    }
}

void OsLockStandardOutput() {
    flockfile(stdout);
}

void OsUnlockStandardOutput() {
    funlockfile(stdout);
}
