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

// A prompt's text: constant, and checked when compiled to hold no line break,
// so that it goes out as it stands.
class Prompt {
public:
    consteval Prompt(const char* text) : text_(text) {
        if (text_.find('\n') != std::string_view::npos) {
            throw "a prompt holds no line break";
        }
    }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
};

// Prints `prompt` and reads one line into `field`. False at end of input.
bool PromptText(Prompt prompt, std::span<char> field);

// Prints `prompt`, reads one line into `field` and converts it (ParseDecimal).
bool PromptInteger(Prompt prompt, std::span<char> field, int32_t* value);

// On a non-zero result prints "<failure>, Error: <result>\n". True on success.
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
