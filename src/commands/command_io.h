// The steps every command repeats: prompt and read a field, convert it, report
// the library's result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tunnel/tunnel_api.h"

// How a command ended: "quit" ends the command loop, and so does input that
// ends inside a command, which abandons it.
enum class CommandOutcome { Completed, InputEnded, Quit };

using CommandHandler = CommandOutcome (*)();

template <std::size_t Capacity>
using TextField = std::array<char, Capacity>;

// Capacities of the typed numeric fields.
inline constexpr std::size_t kNumberFieldCapacity = 32;
inline constexpr std::size_t kIndexFieldCapacity = 64;

// Whether a field is shown as it is typed at a terminal or a console. A
// secret is not, as ssh and sudo do; from a pipe nothing differs.
enum class Typed { kShown, kSecret };

// A prompt's text: constant, and checked when compiled to hold no line break,
// so that it goes out as it stands (see ConsoleReadLine).
class Prompt {
public:
    consteval Prompt(const char* text, Typed typed = Typed::kShown) : text_(text), typed_(typed) {
        if (text_.find('\n') != std::string_view::npos) {
            throw "a prompt holds no line break";
        }
    }
    std::string_view text() const { return text_; }
    bool secret() const { return typed_ == Typed::kSecret; }

private:
    std::string_view text_;
    Typed typed_;
};

// How a session runs, as the command line asks.
struct SessionOptions {
    bool quiet = false;          // no prompts at all
    bool exit_on_error = false;  // the first failure ends the run
};

// Set once, before the first command.
void SetSessionOptions(SessionOptions options);
SessionOptions CurrentSessionOptions();

// Records a failure: a failed start-up step or a command's failure line.
void NoteFailure();

// True once the session should end for a failure it was asked to end at.
bool EndForFailure();

// The field's name as its prompt says it: the prompt without ": ".
std::string_view FieldName(Prompt prompt);

// Shows `prompt` (unless quiet) and reads one line into `field`. A longer
// line keeps what fits, and standard error says so. False at end of input.
bool PromptField(Prompt prompt, std::span<char> field);

// Prompts for each field in turn, in the order of `prompts`. False at end of
// input, which abandons the rest.
template <std::size_t Count>
bool PromptFields(const std::array<Prompt, Count>& prompts,
                  const std::array<std::span<char>, Count>& fields) {
    for (std::size_t i = 0; i < Count; ++i) {
        if (!PromptField(prompts[i], fields[i])) {
            return false;
        }
    }
    return true;
}

// On a non-zero result prints "<failure>, Error: <result>\n" and notes the
// failure. True on success.
bool Succeeded(ResultCode result, std::string_view failure);

// Prints `label`, the text of `field` up to its first NUL or its whole width,
// and a line break.
void PrintTextLine(std::string_view label, std::span<const char> field);

// Room for any 32-bit integer in decimal, sign included.
using DecimalText = std::array<char, 11>;

// `value` in decimal, written into `text`.
std::string_view ToDecimal(int32_t value, DecimalText& text);
std::string_view ToDecimal(uint32_t value, DecimalText& text);

// Prints `label`, `value` in decimal and a line break.
void PrintNumberLine(std::string_view label, uint32_t value);

// The text of a fixed-width field: up to its first NUL, never beyond its width.
std::string_view FieldText(std::span<const char> field);
