#include "commands/command_io.h"

#include <charconv>
#include <cstring>

#include <algorithm>

#include "commands/decimal.h"
#include "console/console.h"
#include "run/diagnostics.h"

namespace {

// One byte wider than the widest field: room to tell a line that fills its
// field from a longer one.
using TypedLine = std::array<char, kWidestField + 1>;

template <typename Integer>
std::string_view DecimalOf(Integer value, DecimalText& text) {
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string_view(text.data(), static_cast<std::size_t>(end - text.data()));
}

// Reads one line into the first `prompt.capacity()` bytes of `field`.
CommandOutcome PromptField(Prompt prompt, std::span<char> field) {
    TypedLine typed;
    const std::span<char> room = std::span(typed).first(prompt.capacity() + 1);
    const auto line = prompt.secret() ? ConsoleReadHiddenLine(prompt.text(), room)
                                      : ConsoleReadLine(prompt.text(), room);
    if (!line) {
        return ConsoleReadWasAbandoned() ? CommandOutcome::kAbandoned : CommandOutcome::kInputEnded;
    }
    // Cut at a character's edge: a field keeps the whole characters that fit.
    TextPrefix kept{line->size(), line->size()};
    if (line->size() > prompt.capacity() - 1) {
        kept = ConsoleWholeCharacters(*line, prompt.capacity() - 1);
    }
    line->copy(field.data(), kept.bytes);
    field[kept.bytes] = '\0';
    if (line->size() > kept.bytes) {
        const std::string_view name = prompt.name();
        ReportProblem("the %.*s typed was cut to its first %u characters",
                      static_cast<int>(name.size()), name.data(),
                      static_cast<unsigned>(kept.characters));
    }
    return CommandOutcome::kCompleted;
}

}  // namespace

int32_t CommandRun::number(std::size_t field) const {
    return ParseDecimal(FieldText(fields[field]));
}

CommandOutcome PromptFields(const Prompts& prompts, CommandRun& run) {
    for (std::size_t i = 0; i < prompts.size() && prompts[i].capacity() != 0; ++i) {
        std::fill_n(run.fields[i].begin(), prompts[i].capacity(), '\0');
    }
    for (std::size_t i = 0; i < prompts.size() && prompts[i].capacity() != 0; ++i) {
        const CommandOutcome read = PromptField(prompts[i], run.fields[i]);
        if (read != CommandOutcome::kCompleted) {
            return read;
        }
        ++run.fields_read;
    }
    return CommandOutcome::kCompleted;
}

std::size_t WriteFieldNames(const Prompts& prompts, std::span<char> text) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < prompts.size() && prompts[i].capacity() != 0; ++i) {
        if (i > 0) {
            length += std::string_view(", ").copy(text.data() + length, text.size() - length);
        }
        length += prompts[i].name().copy(text.data() + length, text.size() - length);
    }
    return length;
}

std::string_view ToDecimal(int32_t value, DecimalText& text) {
    return DecimalOf(value, text);
}

std::string_view ToDecimal(uint32_t value, DecimalText& text) {
    return DecimalOf(value, text);
}

bool Succeeded(CommandRun& run, ResultCode result, std::string_view failure) {
    if (result != kTunnelOk) {
        run.failed = true;
        DecimalText code;
        ConsoleWrite({failure, Crlf<", Error: ">(), ToDecimal(result, code), Crlf<"\n">()});
        return false;
    }
    return true;
}

CommandOutcome OutcomeOf(const CommandRun& run) {
    return run.failed ? CommandOutcome::kFailed : CommandOutcome::kCompleted;
}

std::string_view FieldText(std::span<const char> field) {
    return std::string_view(field.data(), strnlen(field.data(), field.size()));
}

void PrintTextLine(std::string_view label, std::span<const char> field) {
    ConsoleWrite({label, FieldText(field), Crlf<"\n">()});
}

void PrintNumberLine(std::string_view label, uint32_t value) {
    DecimalText digits;
    ConsoleWrite({label, ToDecimal(value, digits), Crlf<"\n">()});
}
