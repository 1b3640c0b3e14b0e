// A stdio stream for a library that draws with stdio (the line editor) on a
// terminal that has one writer: the console's. What the stream is given goes
// out through `write` at each flush, in order with the console's own output.
#pragma once

#include <cstdio>
#include <string_view>

// Opens the stream; nullptr when it cannot. `write` is called with the
// output lock held, as every draw holds it. One stream for the whole run.
std::FILE* OpenTerminalStream(void (*write)(std::string_view bytes));
