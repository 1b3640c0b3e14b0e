#include "console/output_buffer.h"

#include <array>
#include <span>

#include "platform/os_console.h"
#include "run/run_state.h"
#include "text/text_stream.h"

std::mutex output_lock;

namespace {

struct PendingOutput {
    std::array<char, 65536> bytes;
    std::size_t length = 0;
};

PendingOutput pending;

std::span<char> RoomLocked() {
    return std::span(pending.bytes).subspan(pending.length);
}

}  // namespace

void WritePendingLocked() {
    if (pending.length == 0) {
        return;
    }
    const int error = OsWriteStandardOutput(pending.bytes.data(), pending.length);
    pending.length = 0;
    if (error != 0) {
        NoteOutputLost(error);
    }
}

void AddRawLocked(std::string_view bytes) {
    while (!bytes.empty()) {
        if (pending.length == pending.bytes.size()) {
            WritePendingLocked();
        }
        const std::size_t taken = bytes.copy(RoomLocked().data(), RoomLocked().size());
        pending.length += taken;
        bytes.remove_prefix(taken);
    }
}

void AddTextLocked(std::string_view text) {
    for (;;) {
        const StagedText step = StageText(text, RoomLocked());
        pending.length += step.stored;
        text.remove_prefix(step.taken);
        if (text.empty()) {
            return;
        }
        WritePendingLocked();
    }
}

std::string_view TakePendingLocked() {
    // Bounded: a crash handler may find the length torn.
    const std::size_t length = pending.length <= pending.bytes.size() ? pending.length : 0;
    pending.length = 0;
    return std::string_view(pending.bytes.data(), length);
}
