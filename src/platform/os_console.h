// The operating system's side of standard input and output.
#pragma once

#include <cstddef>

// Switches standard input and output to untranslated bytes where the C
// runtime would otherwise translate them, and makes writes to a closed
// reader fail instead of ending the process.
void OsConsoleInit();

// What OsReadStandardInput returns when Ctrl-C interrupted its wait
// (OsInterruptInputWait): the terminal's or console's typed line was dropped.
inline constexpr std::ptrdiff_t kOsInputInterrupted = -2;

// Reads raw bytes from standard input: returns how many, 0 at its end,
// kOsInputInterrupted, or -1 when it is not usable.
std::ptrdiff_t OsReadStandardInput(void* unused, char* buffer, std::size_t capacity);

// Writes all of `bytes` to standard output, waiting while it cannot take more
// (a full pipe, a descriptor a parent left non-blocking). Returns 0, or the
// errno value of the write that failed.
int OsWriteStandardOutput(const char* bytes, std::size_t length);

// Writes `bytes` to standard error as they stand, with nothing a signal
// handler may not call. Nothing is reported when it fails.
void OsWriteStandardError(const char* bytes, std::size_t length);

// Whether the line editor's drawing steps are drawn by writing their
// terminal bytes to standard output (a terminal), rather than with console
// calls (OsTerminalDraw at a Windows console). When they are, the console
// adds them to its output buffer, so that the line taken off, the messages
// and the line drawn again leave in one write.
bool OsDrawingIsOutput();
