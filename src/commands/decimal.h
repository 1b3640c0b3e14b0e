#pragma once

#include <cstdint>
#include <string_view>

// Standard decimal conversion of typed numbers: leading space, tab, LF, VT, FF
// and CR skipped, one optional sign, digits up to the first non-digit; no
// digits gives 0; out-of-range values clamp to the signed 32-bit limits.
int32_t ParseDecimal(std::string_view text);
