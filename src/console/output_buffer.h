// The console's one output buffer and its one lock (console.h): each print
// is added whole under the lock, so output from another thread never splits
// one. Standard output goes through the buffer whatever it is (a console, a
// terminal, the null device, a pipe, a file): a character device would
// otherwise be written a byte or a line per system call. It is written out
// before each read that may wait, after each log message, and when full: in
// blocks as large as a pipe holds, so a script's output costs few writes.
#pragma once

#include <atomic>
#include <initializer_list>
#include <string_view>

#include "text/crlf_text.h"

// A lock taken once per print: free, it costs one atomic exchange each way
// (a general mutex cost the scripted mix a tenth of its instructions); taken,
// the thread waits on the word with the system's wait, not spinning.
class OutputLock {
public:
    void lock() {
        int expected = kFree;
        if (!state_.compare_exchange_strong(expected, kTaken, std::memory_order_acquire)) {
            LockContended();
        }
    }
    bool try_lock() {
        int expected = kFree;
        return state_.compare_exchange_strong(expected, kTaken, std::memory_order_acquire);
    }
    void unlock() {
        if (state_.exchange(kFree, std::memory_order_release) == kWaitedFor) {
            state_.notify_one();
        }
    }

private:
    static constexpr int kFree = 0;
    static constexpr int kTaken = 1;
    static constexpr int kWaitedFor = 2;  // taken, and a thread may wait
    void LockContended();
    std::atomic<int> state_{kFree};
};

extern OutputLock output_lock;

// With output_lock held: writes out what is pending (a failed write ends the
// run, and what was pending is dropped, as it has nowhere to go); adds bytes
// as they stand; adds text, LF as CR LF.
void WritePendingLocked();
void AddRawLocked(std::string_view bytes);
void AddTextLocked(std::string_view text);
// With output_lock held: adds the pieces one after another, the text
// pieces' LF as CR LF.
void AddPiecesLocked(std::initializer_list<PrintPiece> pieces);

// With output_lock held: what is pending, taken out of the buffer, valid
// until the next addition, for a write made with the lock let go by the
// only thread that adds meanwhile, or dropped.
std::string_view TakePendingLocked();
