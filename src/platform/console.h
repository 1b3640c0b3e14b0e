// Standard input and output as text (see text_stream.h). Each write is one
// print: it is added whole to the output buffer under the one output lock,
// so output from other threads never splits it. The buffer reaches standard
// output before each read that may wait, after each ConsoleWriteNow, when it
// is full, and at ConsoleFlush.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

void ConsoleInit();

// Writes `text` as it stands ('%' included), LF as CR LF.
void ConsoleWrite(std::string_view text);

// Writes the pieces one after another as one print, LF as CR LF.
void ConsoleWrite(std::initializer_list<std::string_view> pieces);

// Writes text already staged, with every LF as CR LF (as StagedConstant in
// text_stream.h makes it), unchanged, as one print.
void ConsoleWriteStaged(std::string_view staged);

// Writes `text` and hands it to the reader at once, for messages that arrive
// while the program waits for input.
void ConsoleWriteNow(std::string_view text);

// Writes out whatever is buffered, for a pause or the end of the run.
void ConsoleFlush();

// Writes out whatever is buffered, from a crash handler: takes the output
// lock only if it is free within a few tries, and touches only what a
// signal handler may.
void ConsoleWritePendingAfterCrash();

// Formats into a 2048-byte buffer, then writes like ConsoleWrite.
[[gnu::format(printf, 1, 2)]] void ConsolePrint(const char* format, ...);

// Reads one line of standard input into `line` (see ReadTextLine), flushing
// standard output first whenever the read may block. nullopt at end of input.
// At a terminal the line is edited (line_editor.h), after the prompt printed
// last, which the editor draws again as needed.
std::optional<std::string_view> ConsoleReadLine(std::span<char> line);

// Reads a command line as ConsoleReadLine does; at a terminal, Tab completes
// `command_names` and command lines are kept in the history.
std::optional<std::string_view> ConsoleReadCommandLine(
    std::span<char> line, std::span<const std::string_view> command_names);
