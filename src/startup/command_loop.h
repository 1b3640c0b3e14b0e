#pragma once

#include "startup/startup.h"

// Why the command loop ended.
enum class LoopEnd {
    kInputOrQuit,  // "quit", the end of input, or a stop request
    kFailure,      // a command failed, and the session ends at the first failure
};

// Reads commands from standard input and runs them until "quit" or the end of
// input. The caller stops the library afterwards.
LoopEnd RunCommandLoop(SessionOptions options);
