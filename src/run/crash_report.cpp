#include "run/crash_report.h"

#include <array>
#include <atomic>

#include "platform/os_console.h"

namespace {

// Read by a crash handler on any thread.
std::atomic<const char*> running_operation{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);
// Counts each entry into and return from an operation.
std::atomic<unsigned> operation_steps{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

void (*pending_output_writer)() = nullptr;

void WritePendingOutput() {
    if (pending_output_writer != nullptr) {
        pending_output_writer();
    }
}

}  // namespace

void NoteLibraryOperation(const char* name) {
    running_operation.store(name);
    operation_steps.fetch_add(1);
}

LibraryOperationState CurrentLibraryOperation() {
    return {running_operation.load() != nullptr, operation_steps.load()};
}

void SetPendingOutputWriter(void (*write_pending_output)()) {
    pending_output_writer = write_pending_output;
}

void ReportEnding(std::string_view cause, bool crash, bool on_program_thread) {
    if (crash) {
        ReportCrash(cause, on_program_thread);
    } else {
        WritePendingOutput();
    }
}

void ReportCrash(std::string_view cause, bool on_program_thread) {
    WritePendingOutput();
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
