// The decimal conversion of typed numbers, against the C library's strtoll
// clamped to 32 bits.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "commands/decimal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    errno = 0;
    long long expected = std::strtoll(text.c_str(), nullptr, 10);
    if (expected > std::numeric_limits<int32_t>::max()) {
        expected = std::numeric_limits<int32_t>::max();
    } else if (expected < std::numeric_limits<int32_t>::min()) {
        expected = std::numeric_limits<int32_t>::min();
    }
    if (ParseDecimal(text) != expected) {
        std::abort();
    }
    return 0;
}
