#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/os_console.h"
#include "platform/os_run_state.h"
#include "platform/posix/input_wait_descriptors.h"

// A reader that goes away makes writes fail, as on Windows, instead of ending
// the process before it stops the library.
namespace {

// A file on disk never makes a read wait, so there is nothing to wait for
// beside it: a script read from a file costs no poll per read.
bool input_is_file = false;

}  // namespace

void OsConsoleInit() {
    std::signal(SIGPIPE, SIG_IGN);
    struct stat input {};
    input_is_file = fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode);
}

bool OsDrawingIsOutput() {
    return true;
}

namespace {

// Ctrl-C at the terminal: the line typed so far, which the terminal holds
// until Enter, goes too.
std::ptrdiff_t Interrupted() {
    tcflush(STDIN_FILENO, TCIFLUSH);
    return kOsInputInterrupted;
}

}  // namespace

// Waits until standard input has bytes, the run should end or Ctrl-C
// interrupts; the wait also serves standard input that a parent left
// non-blocking.
std::ptrdiff_t OsReadStandardInput(void*, char* buffer, std::size_t capacity) {
    for (;;) {
        if (OsInputWaitWoken()) {
            return 0;
        }
        if (OsTakeInputInterrupt(false)) {
            return Interrupted();
        }
        if (input_is_file) {
            const ssize_t count = read(STDIN_FILENO, buffer, capacity);
            if (count >= 0 || errno != EINTR) {
                return count;
            }
            continue;
        }
        // A pipe that could not be made is -1, which poll passes over.
        pollfd waits[3] = {{STDIN_FILENO, POLLIN, 0},
                           {OsInputWakeDescriptor(), POLLIN, 0},
                           {OsInputInterruptDescriptor(), POLLIN, 0}};
        if (poll(waits, 3, -1) < 0 && errno == EINTR) {
            continue;
        }
        if (waits[2].revents != 0 && OsTakeInputInterrupt(true)) {
            return Interrupted();
        }
        if (waits[1].revents != 0 || waits[2].revents != 0) {
            continue;
        }
        const ssize_t count = read(STDIN_FILENO, buffer, capacity);
        if (count >= 0) {
            return count;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
    }
}

int OsWriteStandardOutput(const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t count = write(STDOUT_FILENO, bytes, length);
        if (count >= 0) {
            bytes += count;
            length -= static_cast<std::size_t>(count);
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Shared with a parent that made it non-blocking: wait for room
            // rather than lose the rest.
            pollfd room{STDOUT_FILENO, POLLOUT, 0};
            poll(&room, 1, -1);
            continue;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

void OsWriteStandardError(const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t count = write(STDERR_FILENO, bytes, length);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
}
