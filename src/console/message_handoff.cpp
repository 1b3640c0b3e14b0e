#include "console/message_handoff.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace {

struct Handoff {
    std::array<char, 16384> bytes;
    std::size_t length = 0;
    // A message is in the hand-off in part: more is to come.
    bool open = false;
};

Handoff handoff;
// Whether a thread has a message in parts under way.
bool part_writer_active = false;

// Threads waiting for room, or for a message in parts to be through, wait
// for this count to change; it changes, under the output lock, with the
// hand-off.
std::atomic<unsigned> handoff_changes{0};

void WaitForChange(std::unique_lock<OutputLock>& lock) {
    const unsigned seen = handoff_changes.load(std::memory_order_relaxed);
    lock.unlock();
    handoff_changes.wait(seen, std::memory_order_relaxed);
    lock.lock();
}

void NotifyChange() {
    handoff_changes.fetch_add(1, std::memory_order_relaxed);
    handoff_changes.notify_all();
}

std::size_t Room() {
    return handoff.bytes.size() - handoff.length;
}

void Add(std::string_view text) {
    handoff.length += text.copy(handoff.bytes.data() + handoff.length, Room());
}

}  // namespace

bool HandOffMessage(std::unique_lock<OutputLock>& lock, std::string_view& text, bool (*editing)(),
                    void (*wake)()) {
    bool needs_break = !text.ends_with('\n');
    // Another thread's message going in parts is let through first.
    while (part_writer_active && editing()) {
        WaitForChange(lock);
    }
    bool in_parts = false;
    while (editing()) {
        if (!in_parts) {
            const std::size_t whole = text.size() + (needs_break ? 1 : 0);
            if (whole <= Room()) {
                // The reader was woken for what is there already, and takes
                // all of it at once: one wake a batch, not one a message.
                const bool was_empty = handoff.length == 0;
                Add(text);
                Add(needs_break ? "\n" : "");
                text = {};
                if (was_empty) {
                    wake();
                }
                return true;
            }
            // Too long for the hand-off even empty: it goes in parts.
            in_parts = whole > handoff.bytes.size();
            part_writer_active = in_parts;
        }
        if (in_parts && Room() > 0) {
            handoff.open = true;
            const std::size_t part = std::min(text.size(), Room());
            Add(text.substr(0, part));
            text.remove_prefix(part);
            if (text.empty() && needs_break && Room() > 0) {
                Add("\n");
                needs_break = false;
            }
            if (text.empty() && !needs_break) {
                handoff.open = false;
                part_writer_active = false;
                wake();
                NotifyChange();
                return true;
            }
            wake();
        }
        WaitForChange(lock);
    }
    if (in_parts) {
        handoff.open = false;
        part_writer_active = false;
        NotifyChange();
    }
    return false;
}

std::string_view HandedOffBytes() {
    return std::string_view(handoff.bytes.data(), handoff.length);
}

bool HandedOffWhole() {
    return !handoff.open;
}

void HandedOffWritten() {
    handoff.length = 0;
    NotifyChange();
}
