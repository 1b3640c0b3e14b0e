// Answers probe requests (probe.h), one per line of standard input, with the
// system's own Win32 calls. Built for Windows and run under an emulator by the
// differential tests.
//
// It also holds files open for the end-to-end tests, as another Windows
// process would: "hold <share mode> <path>" opens the file for reading with
// that share mode (decimal) and answers "held" or "failed <error>"; the file
// stays open until the probe ends, at the end of its input.
#include <windows.h>

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
        if (line.starts_with("hold ")) {
            const std::size_t path = line.find(' ', 5);
            const DWORD share = static_cast<DWORD>(std::stoul(line.substr(5, path - 5)));
            const HANDLE file = CreateFileA(line.substr(path + 1).c_str(), GENERIC_READ, share,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                std::cout << "failed " << GetLastError() << std::endl;
            } else {
                std::cout << "held" << std::endl;
            }
            continue;
        }
        std::cout << differential::ProbeAnswer(line) << '\n';
    }
    return 0;
}
