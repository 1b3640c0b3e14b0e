// Why a run failed or ended early, for the person or program watching
// standard error. Standard output, the program's interface, never carries it.
#pragma once

// Writes "tunnelconsole: ", the formatted text and CR LF to standard error in
// one write.
[[gnu::format(printf, 1, 2)]] void ReportProblem(const char* format, ...);
