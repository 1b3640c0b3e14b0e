// The steps every command repeats: prompt and read a field, convert it, report
// the library's result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tunnel/tunnel_api.h"

// How a command ended: input that ends inside a command abandons it and ends
// the program as "quit" does.
enum class CommandOutcome { Completed, InputEnded };

using CommandHandler = CommandOutcome (*)();

template <std::size_t Capacity>
using TextField = std::array<char, Capacity>;

// Capacities of the typed numeric fields.
inline constexpr std::size_t kNumberFieldCapacity = 32;
inline constexpr std::size_t kIndexFieldCapacity = 64;

// Prints `prompt` and reads one line into `field`. False at end of input.
bool PromptText(const char* prompt, std::span<char> field);

// Prints `prompt`, reads one line into `field` and converts it (ParseDecimal).
bool PromptInteger(const char* prompt, std::span<char> field, int32_t* value);

// On a non-zero result prints "<failure>, Error: <result>\n". True on success.
bool Succeeded(ResultCode result, const char* failure);

// Prints `label`, the text of `field` up to its first NUL or its whole width,
// and a line break.
void PrintTextLine(const char* label, std::span<const char> field);

// The text of a fixed-width field: up to its first NUL, never beyond its width.
std::string_view FieldText(std::span<const char> field);
