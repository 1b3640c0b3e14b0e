#pragma once

#include <span>
#include <string_view>

// Reads commands from standard input and runs them until "quit" or the end of
// input. The caller stops the library afterwards.
void RunCommandLoop();

// Prints the list of commands a user can type.
void PrintHelp();

// The name of every command, from the one command table.
std::span<const std::string_view> CommandNames();
