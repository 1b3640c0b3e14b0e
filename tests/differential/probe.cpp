#include "probe.h"

#include <array>
#include <cstdlib>
#include <vector>

#include "win32_standins/win32_calls.h"

namespace differential {
namespace {

constexpr std::size_t kPathCapacity = 4096;

std::vector<std::string> Fields(std::string_view line) {
    std::vector<std::string> fields;
    while (!line.empty()) {
        const std::size_t end = line.find(' ');
        fields.emplace_back(line.substr(0, end));
        line = end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
    }
    return fields;
}

std::string Answer(long result, std::string_view text) {
    return std::to_string(result) + " " + Hex(text);
}

std::string IniAnswer(const std::vector<std::string>& fields) {
    const std::string section = Unhex(fields[1]);
    const std::string key = Unhex(fields[2]);
    const std::string default_value = Unhex(fields[3]);
    const auto size = static_cast<DWORD>(std::strtoul(fields[4].c_str(), nullptr, 10));
    const std::string file = Unhex(fields[5]);
    // Bytes past the terminator are poisoned, so a call that writes beyond
    // what it returns shows up in the answer.
    std::vector<char> returned(size + 16, '\x7f');
    const DWORD count = GetPrivateProfileStringA(
        section.c_str(), key.c_str(), default_value.c_str(), returned.data(), size, file.c_str());
    std::string text(returned.data(), count < returned.size() ? count : returned.size());
    const bool terminated = size == 0 || (count < size && returned[count] == '\0');
    const bool untouched_beyond = returned[size] == '\x7f';
    return Answer(count, text) + (terminated ? "" : " unterminated") +
           (untouched_beyond ? "" : " overrun");
}

std::string CombineAnswer(const std::vector<std::string>& fields) {
    std::array<char, kPathCapacity> destination{};
    const std::string directory = Unhex(fields[1]);
    const std::string name = Unhex(fields[2]);
    const char* result = PathCombineA(destination.data(), directory.c_str(), name.c_str());
    return Answer(result != nullptr ? 1 : 0, result != nullptr ? destination.data() : "");
}

std::string RemoveSpecAnswer(const std::vector<std::string>& fields) {
    std::array<char, kPathCapacity> path{};
    const std::string given = Unhex(fields[1]);
    given.copy(path.data(), path.size() - 1);
    const BOOL removed = PathRemoveFileSpecA(path.data());
    return Answer(removed != 0 ? 1 : 0, path.data());
}

}  // namespace

std::string Hex(std::string_view bytes) {
    if (bytes.empty()) {
        return "-";
    }
    constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xf];
    }
    return hex;
}

std::string Unhex(std::string_view hex) {
    std::string bytes;
    if (hex == "-") {
        return bytes;
    }
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

std::string ProbeAnswer(std::string_view request) {
    const std::vector<std::string> fields = Fields(request);
    if (fields.size() == 6 && fields[0] == "ini") {
        return IniAnswer(fields);
    }
    if (fields.size() == 3 && fields[0] == "combine") {
        return CombineAnswer(fields);
    }
    if (fields.size() == 2 && fields[0] == "removespec") {
        return RemoveSpecAnswer(fields);
    }
    return "bad request";
}

}  // namespace differential
