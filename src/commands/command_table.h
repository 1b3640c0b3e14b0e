// The commands a person types: one row each, with everything about the
// command in it. The command loop only walks this table.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "commands/command_io.h"

// A handler, with the fields it names (FieldsOf) in order, kNone past the last.
struct BoundHandler {
    CommandOutcome (*call)(CommandRun& run);
    std::array<Field, kMostFields> fields;
};

struct Command {
    // Refused when compiled unless the row asks for the fields its handler
    // names, in the same order.
    consteval Command(std::string_view name, bool listed, Prompts prompts, BoundHandler bound)
        : name(name), listed(listed), prompts(prompts), handler(bound.call) {
        for (std::size_t i = 0; i < kMostFields; ++i) {
            if (prompts[i].field() != bound.fields[i]) {
                throw "a row asks for the fields its handler names, in their order";
            }
        }
    }

    std::string_view name;
    bool listed;      // shown in the command list, in the table's order
    Prompts prompts;  // the fields it asks for, in order
    CommandOutcome (*handler)(CommandRun& run);
};

// The row whose name is the whole line, byte for byte; nullptr when none is.
const Command* FindCommand(std::string_view line);

// Prompts for the command's fields into `run`, then runs its handler with
// them. `run.stop_at_failure`: a command of many library calls stops at the
// first that fails.
CommandOutcome RunCommand(const Command& command, CommandRun& run);

// Prints the list of commands a person can type, for a line that names none.
void PrintCommandList();

// Every command's name, for completion.
std::span<const std::string_view> CommandNames();

// Writes into `text`, LF-terminated, one line for each command: its name and
// the fields it asks for. Returns the length written (cut when `text` is too
// small).
std::size_t WriteCommandUsage(std::span<char> text);
