#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "commands/decimal.h"

namespace {

// Beside the end-to-end rows of typed numbers.
TEST(ParseDecimalTest, ConvertsLikeTheStandardConversion) {
    const struct {
        std::string_view text;
        int32_t value;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {" \t\n\v\f\r15", 15},
        {"12 34", 12},
        {"--5", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"-", 0},
        {"0009", 9},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483647", -2147483647},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999999", INT32_MIN},
        {"4294967295", 2147483647},
        {"4294967297", 2147483647},
        // Past 64 bits: a conversion that wraps would give 1, 0 or -1.
        {"18446744073709551616", 2147483647},
        {"-18446744073709551617", INT32_MIN},
        {"000000000000000000000000000002147483647", 2147483647},
        {"-000000000000000000000000000002147483648", INT32_MIN},
        {"\0015", 0},
        // The control bytes on each side of the blanks tab to CR.
        {"\0105", 0},
        {"\0165", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
