#include <cerrno>
#include <cstdio>

#include <unistd.h>

#include "platform/os_console.h"

void OsConsoleInit() {}

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
