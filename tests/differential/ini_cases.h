// config.ini lookups compared between the POSIX stand-in and Win32.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace differential {

using namespace std::string_view_literals;

struct IniCase {
    const char* name;       // test name: letters, digits, underscores
    std::string_view file;  // bytes of the INI file
    const char* section = "config";
    const char* key = "device_id";
    const char* default_value = "undefined";
    uint32_t size = 128;
    // nullptr: the POSIX lookup returns exactly what Win32 returns. Otherwise
    // why it is meant to differ; then the two must still differ and POSIX
    // gives `posix_expected`.
    const char* intended_difference = nullptr;
    std::string_view posix_expected = {};
};

inline std::vector<IniCase> IniCases() {
    return {
        {.name = "Plain", .file = "[config]\r\ndevice_id=abc\r\n"},
        {.name = "MissingKey", .file = "[config]\r\nname=abc\r\n"},
        {.name = "SpacesAroundEquals", .file = "[config]\r\n  device_id  =  abc  \r\n"},
    };
}

}  // namespace differential
