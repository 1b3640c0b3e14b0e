#include "platform/posix/terminal_modes.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>

namespace {

termios found_modes{};
// Set once the modes above are complete, so a signal handler never puts back
// half of them.
std::atomic<bool> modes_saved{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

bool SaveTerminalModes() {
    if (tcgetattr(STDIN_FILENO, &found_modes) != 0) {
        return false;
    }
    modes_saved.store(true);
    return true;
}

void RestoreTerminalModes() {
    if (modes_saved.load()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &found_modes);
    }
}
