// One request to the platform's Win32 calls and its answer, as text lines, so
// the same requests can be answered by the real functions (the probe program,
// built for Windows) and by the program's POSIX stand-ins (in-process).
//
// Request fields are separated by one space; texts are hex-encoded bytes,
// "-" for the empty text:
//   ini <section> <key> <default> <size> <file>   GetPrivateProfileStringA
//   combine <directory> <name>                      PathCombineA
//   removespec <path>                              PathRemoveFileSpecA
// The answer is "<result> <text>": the call's result (a count, or 0/1) and
// the text it left in its buffer, hex-encoded.
#pragma once

#include <string>
#include <string_view>

namespace differential {

std::string Hex(std::string_view bytes);
std::string Unhex(std::string_view hex);

std::string ProbeAnswer(std::string_view request);

}  // namespace differential
