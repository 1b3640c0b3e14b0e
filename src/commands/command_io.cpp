#include "commands/command_io.h"

#include <charconv>
#include <cstring>

#include <algorithm>

#include "console/console.h"
#include "run/diagnostics.h"

namespace {

// Set from the command line before the first command; read on the main
// thread only.
SessionOptions session_options;
bool session_failed = false;

// The widest typed field, request data, and one byte more: room to tell a
// line that fills its field from a longer one.
constexpr std::size_t kWidestField = kRequestCapacity;
using TypedLine = std::array<char, kWidestField + 1>;

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

void SetSessionOptions(SessionOptions options) {
    session_options = options;
    session_failed = false;
}

SessionOptions CurrentSessionOptions() {
    return session_options;
}

void NoteFailure() {
    session_failed = true;
}

bool EndForFailure() {
    return session_failed && session_options.exit_on_error;
}

std::string_view FieldName(Prompt prompt) {
    std::string_view name = prompt.text();
    if (name.ends_with(": ")) {
        name.remove_suffix(2);
    }
    return name;
}

bool PromptField(Prompt prompt, std::span<char> field) {
    // Read one byte wider than the field, to see whether the line fitted.
    TypedLine typed;
    const std::size_t width = std::min(field.size() + 1, typed.size());
    // Quiet, the prompt is not shown at all.
    const std::string_view shown = session_options.quiet ? std::string_view() : prompt.text();
    const std::span<char> room = std::span(typed).first(width);
    const auto line =
        prompt.secret() ? ConsoleReadHiddenLine(shown, room) : ConsoleReadLine(shown, room);
    if (!line) {
        return false;
    }
    const std::size_t kept = std::min(line->size(), field.size() - 1);
    line->copy(field.data(), kept);
    field[kept] = '\0';
    if (line->size() > kept) {
        const std::string_view name = FieldName(prompt);
        ReportProblem("the %.*s typed was cut to its first %u characters",
                      static_cast<int>(name.size()), name.data(), static_cast<unsigned>(kept));
    }
    return true;
}

bool Succeeded(ResultCode result, std::string_view failure) {
    if (result != kTunnelOk) {
        NoteFailure();
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
