// The final path the system gives for an open file, spelled as a path the
// ANSI calls take.
#pragma once

#include <span>
#include <string_view>

// Writes `final_path` into `target`, NUL-terminated, without the "\\?\" the
// system puts before it: "\\?\C:\dir" becomes "C:\dir" and
// "\\?\UNC\server\share" becomes "\\server\share". False when it does not fit.
bool PathFromFinalPath(std::string_view final_path, std::span<char> target);
