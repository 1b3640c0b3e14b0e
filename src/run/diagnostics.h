// Why a run failed or ended early, for the person or program watching
// standard error. Standard output, the program's interface, never carries it.
#pragma once

// Writes "tunnelconsole: ", the formatted text and CR LF to standard error in
// one write. Whatever the text holds from outside, the note stays one line
// of printable characters: controls (C0, DEL, C1) and bytes that are no
// character of the text's encoding are written as `\xHH`, one a byte.
[[gnu::format(printf, 1, 2)]] void ReportProblem(const char* format, ...);
