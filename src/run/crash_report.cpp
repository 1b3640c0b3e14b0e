#include "run/crash_report.h"

#include <array>
#include <atomic>

#include "console/console.h"
#include "platform/os_console.h"

namespace {

// Read by a crash handler on any thread.
std::atomic<const char*> running_operation{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

}  // namespace

void NoteLibraryOperation(const char* name) {
    running_operation.store(name);
}

void ReportCrash(std::string_view cause, bool on_program_thread) {
    ConsoleWritePendingAfterCrash();
    std::array<char, 256> line{};
    std::size_t length = 0;
    const auto append = [&](std::string_view piece) {
        length += piece.copy(line.data() + length, line.size() - length);
    };
    append("tunnelconsole: ended by ");
    append(cause);
    const char* operation = running_operation.load();
    if (!on_program_thread) {
        append(" on a library thread");
    } else if (operation != nullptr) {
        append(" in ");
        append(operation);
    }
    append("\r\n");
    OsWriteStandardError(line.data(), length);
}
