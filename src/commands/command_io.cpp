#include "commands/command_io.h"

#include <charconv>
#include <cstring>

#include "commands/decimal.h"
#include "platform/console.h"

namespace {

template <typename Integer>
std::string_view DecimalOf(Integer value, DecimalText& text) {
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string_view(text.data(), static_cast<std::size_t>(end - text.data()));
}

}  // namespace

std::string_view ToDecimal(int32_t value, DecimalText& text) {
    return DecimalOf(value, text);
}

std::string_view ToDecimal(uint32_t value, DecimalText& text) {
    return DecimalOf(value, text);
}

bool PromptText(Prompt prompt, std::span<char> field) {
    ConsoleWriteStaged(prompt.text());
    return ConsoleReadLine(field).has_value();
}

bool PromptInteger(Prompt prompt, std::span<char> field, int32_t* value) {
    ConsoleWriteStaged(prompt.text());
    const auto line = ConsoleReadLine(field);
    if (!line) {
        return false;
    }
    *value = ParseDecimal(*line);
    return true;
}

bool Succeeded(ResultCode result, std::string_view failure) {
    if (result != kTunnelOk) {
        DecimalText code;
        ConsoleWrite({failure, ", Error: ", ToDecimal(result, code), "\n"});
        return false;
    }
    return true;
}

std::string_view FieldText(std::span<const char> field) {
    return std::string_view(field.data(), strnlen(field.data(), field.size()));
}

void PrintTextLine(std::string_view label, std::span<const char> field) {
    ConsoleWrite({label, FieldText(field), "\n"});
}

void PrintNumberLine(std::string_view label, uint32_t value) {
    DecimalText digits;
    ConsoleWrite({label, ToDecimal(value, digits), "\n"});
}
