#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// Why the command loop ended.
enum class LoopEnd {
    kInputOrQuit,  // "quit", the end of input, or a stop request
    kFailure,      // a command failed, and the session ends at the first failure
};

// Reads commands from standard input and runs them until "quit" or the end of
// input. The caller stops the library afterwards.
LoopEnd RunCommandLoop();

// Writes into `text`, LF-terminated, one line for each command of the table:
// its name and the fields it asks for. Returns the length written (cut when
// `text` is too small).
std::size_t WriteCommandUsage(std::span<char> text);
