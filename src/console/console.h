// Standard input and output as text (see text_stream.h). Each write is one
// print: it is added whole to the output buffer under the one output lock,
// so output from other threads never splits it. The buffer reaches standard
// output before each read that may wait, after each ConsoleWriteNow, when it
// is full, and at ConsoleFlush. The console's writer is the only one: at a
// terminal the line editor draws through it too.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "text/crlf_text.h"
#include "text/text_stream.h"

void ConsoleInit();

// Whether the reads below show their prompts; without, nothing is shown
// before a line is read. Set before the first read.
void ConsoleShowPrompts(bool shown);

// Writes `text` as it stands ('%' included), LF as CR LF, as one print.
void ConsoleWrite(std::string_view text);

// Writes bytes whose line breaks are CR LF already, as one print.
void ConsoleWrite(CrlfText text);

// Writes the pieces one after another as one print, a text piece's LF as
// CR LF (crlf_text.h).
void ConsoleWrite(std::initializer_list<PrintPiece> pieces);

// Writes `text` and hands it to the reader at once, for messages that arrive
// while the program waits for input. At a terminal it takes lines of its
// own, above the line being typed.
void ConsoleWriteNow(std::string_view text);

// Writes out whatever is buffered, for a pause or the end of the run.
void ConsoleFlush();

// Writes out whatever is buffered, from a crash handler: takes the output
// lock only if it is free within a few tries, and touches only what a
// signal handler may.
void ConsoleWritePendingAfterCrash();

// Shows `prompt` (nothing when empty) and reads one line of standard input
// into `line` (see ReadTextLine), flushing standard output first whenever
// the read may block. nullopt at end of input. The prompt goes out as it
// stands, so a line break in it is written CR LF. At a terminal the line is
// edited (editor/editor.h), and the editor draws the prompt's last line again
// as needed.
std::optional<std::string_view> ConsoleReadLine(std::string_view prompt, std::span<char> line);

// Reads a line as ConsoleReadLine does, except that at a terminal or a
// console nothing typed is shown, as for a passcode. From a pipe or a file
// it is ConsoleReadLine.
std::optional<std::string_view> ConsoleReadHiddenLine(std::string_view prompt,
                                                      std::span<char> line);

// True when the last read that gave nullopt did so because the person
// abandoned the line being typed (Ctrl-C at the editor), not because the
// input ended: the command in progress is dropped and the run goes on.
bool ConsoleReadWasAbandoned();

// The start of `typed`, a line just read, that holds whole characters in at
// most `room` bytes, and how many characters it holds. At a terminal or
// console by the encoding of what is typed there; from a pipe or a file
// every byte is a character.
TextPrefix ConsoleWholeCharacters(std::string_view typed, std::size_t room);

// Reads a command line as ConsoleReadLine does; at a terminal, Tab completes
// `command_names` and command lines are kept in the history.
std::optional<std::string_view> ConsoleReadCommandLine(
    std::string_view prompt, std::span<char> line, std::span<const std::string_view> command_names);
