// What the Windows test programs share: each row checks with Check, a row
// that fails prints a line, and the program exits 0 when every row held.
#pragma once

#include <cstdio>
#include <string>

inline int failures = 0;

inline void Check(bool holds, const std::string& row, const char* what) {
    if (!holds) {
        std::printf("FAIL: %s: %s\n", row.c_str(), what);
        ++failures;
    }
}

// The exit status, said as `all_held` when every row held.
inline int Report(const char* all_held) {
    if (failures == 0) {
        std::printf("%s\n", all_held);
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
