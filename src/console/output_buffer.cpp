#include "console/output_buffer.h"

#include <array>
#include <cstring>
#include <span>

#include "platform/os_console.h"
#include "run/run_state.h"
#include "text/text_stream.h"

OutputLock output_lock;

void OutputLock::LockContended() {
    // Marked as waited for, so that the holder's unlock wakes a waiter.
    while (state_.exchange(kWaitedFor, std::memory_order_acquire) != kFree) {
        state_.wait(kWaitedFor, std::memory_order_relaxed);
    }
}

namespace {

struct PendingOutput {
    std::array<char, 65536> bytes;
    std::size_t length = 0;
};

PendingOutput pending;

std::span<char> RoomLocked() {
    return std::span(pending.bytes).subspan(pending.length);
}

std::size_t StagedEnd(const char* end) {
    return static_cast<std::size_t>(end - pending.bytes.data());
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
    if (bytes.size() <= RoomLocked().size()) {
        bytes.copy(RoomLocked().data(), bytes.size());  // an empty view may have no data
        pending.length += bytes.size();
        return;
    }
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
    if (StagingRoom(text.size()) <= RoomLocked().size()) {
        pending.length = StagedEnd(StageTextWithRoom(text, RoomLocked().data()));
        return;
    }
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

void AddPiecesLocked(std::initializer_list<PrintPiece> pieces) {
    std::size_t size = 0;
    for (const PrintPiece& piece : pieces) {
        size += piece.bytes.size();
    }
    // Staged one after another in one pass when the buffer has room for all.
    if (StagingRoom(size) <= RoomLocked().size()) {
        char* to = RoomLocked().data();
        for (const PrintPiece& piece : pieces) {
            to = piece.crlf_already ? CopyWithRoom(piece.bytes, to)
                                    : StageTextWithRoom(piece.bytes, to);
        }
        pending.length = StagedEnd(to);
        return;
    }
    for (const PrintPiece& piece : pieces) {
        if (piece.crlf_already) {
            AddRawLocked(piece.bytes);
        } else {
            AddTextLocked(piece.bytes);
        }
    }
}

std::string_view TakePendingLocked() {
    // Bounded: a crash handler may find the length torn.
    const std::size_t length = pending.length <= pending.bytes.size() ? pending.length : 0;
    pending.length = 0;
    return std::string_view(pending.bytes.data(), length);
}
