#include "commands/decimal.h"

#include <limits>

int32_t ParseDecimal(std::string_view text) {
    // Space, tab, LF, VT, FF and CR: the blanks isspace knows in the C locale.
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return 0;
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr int64_t kMagnitudeLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        if (magnitude <= kMagnitudeLimit) {
            magnitude = magnitude * 10 + (c - '0');
        }
    }
    if (negative) {
        return magnitude >= kMagnitudeLimit ? std::numeric_limits<int32_t>::min()
                                            : static_cast<int32_t>(-magnitude);
    }
    return magnitude > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                           : static_cast<int32_t>(magnitude);
}
