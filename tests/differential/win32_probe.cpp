// Answers probe requests (probe.h), one per line of standard input, with the
// system's own Win32 calls. Built for Windows and run under an emulator by the
// differential tests.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "probe.h"

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::cout << differential::ProbeAnswer(line) << '\n';
    }
    return 0;
}
