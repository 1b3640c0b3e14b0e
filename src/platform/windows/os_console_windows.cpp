// Standard input and output through the C runtime's descriptors, switched to
// binary so that the program's own text rules (text_stream.h) apply unchanged.
#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdio>

#include "platform/os_console.h"

void OsConsoleInit() {
    // A windowed program may have no standard streams at all; then these fail
    // and every read sees the end of input.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::ptrdiff_t OsReadStandardInput(void*, char* buffer, std::size_t capacity) {
    const unsigned int count = capacity < INT_MAX ? static_cast<unsigned int>(capacity) : INT_MAX;
    return _read(_fileno(stdin), buffer, count);
}

void OsLockStandardOutput() {
    _lock_file(stdout);
}

void OsUnlockStandardOutput() {
    _unlock_file(stdout);
}
