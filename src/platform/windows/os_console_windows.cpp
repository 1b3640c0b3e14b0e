// Standard input, output and error through the C runtime's descriptors, switched to
// binary so that the program's own text rules (text_stream.h) apply unchanged.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/os_console.h"
#include "platform/run_state.h"

void OsConsoleInit() {
    // A windowed program may have no standard streams at all; then these fail
    // and every read sees the end of input.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

// A stop request cancels a read in progress (see os_run_state_windows.cpp);
// the cancelled read fails, which ends the input as its end does.
std::ptrdiff_t OsReadStandardInput(void*, char* buffer, std::size_t capacity) {
    if (RunShouldEnd()) {
        return 0;
    }
    const unsigned int count = capacity < INT_MAX ? static_cast<unsigned int>(capacity) : INT_MAX;
    return _read(_fileno(stdin), buffer, count);
}

int OsWriteStandardOutput(const char* bytes, std::size_t length) {
    const int descriptor = _fileno(stdout);
    while (length > 0) {
        const unsigned int piece = length < INT_MAX ? static_cast<unsigned int>(length) : INT_MAX;
        const int count = _write(descriptor, bytes, piece);
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            return EIO;  // no progress: waiting would never end
        }
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
    return 0;
}
