#include "commands/command_io.h"

#include <cstring>

#include "commands/decimal.h"
#include "platform/console.h"

bool PromptText(const char* prompt, std::span<char> field) {
    ConsoleWrite(prompt);
    return ConsoleReadLine(field).has_value();
}

bool PromptInteger(const char* prompt, std::span<char> field, int32_t* value) {
    ConsoleWrite(prompt);
    const auto line = ConsoleReadLine(field);
    if (!line) {
        return false;
    }
    *value = ParseDecimal(*line);
    return true;
}

bool Succeeded(ResultCode result, const char* failure) {
    if (result != kTunnelOk) {
        ConsolePrint("%s, Error: %d\n", failure, result);
        return false;
    }
    return true;
}

std::string_view FieldText(std::span<const char> field) {
    return std::string_view(field.data(), strnlen(field.data(), field.size()));
}

void PrintTextLine(const char* label, std::span<const char> field) {
    const std::string_view text = FieldText(field);
    ConsolePrint("%s%.*s\n", label, static_cast<int>(text.size()), text.data());
}
