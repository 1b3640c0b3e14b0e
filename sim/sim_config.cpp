// Configuration items, endpoints and the paths the stand-in reads and creates.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "sim_internal.h"
#include "win32_standins/executable_folder.h"
#include "win32_standins/win32_calls.h"

namespace tunnel_sim {
namespace {

constexpr std::size_t kPathCapacity = 4096;

bool IsNameDelimiter(char c) {
    return c == '(' || c == ')' || c == '{' || c == '}' || c == '\r' || c == '\n';
}

// A value runs to the brace that closes it: '(', ')' and '{' are part of it.
bool IsValueDelimiter(char c) {
    return c == '}' || c == '\r' || c == '\n';
}

// Position of `close` ending a run of characters that starts at `from`, or
// npos when another delimiter or the end comes first.
std::size_t FindClose(std::string_view text, std::size_t from, char close,
                      bool (*is_delimiter)(char)) {
    std::size_t i = from;
    while (i < text.size() && !is_delimiter(text[i])) {
        ++i;
    }
    return i < text.size() && text[i] == close ? i : std::string_view::npos;
}

}  // namespace

std::optional<ConfigItem> FindItem(std::string_view text, std::size_t& position) {
    for (std::size_t open = text.find('(', position); open != std::string_view::npos;
         open = text.find('(', open + 1)) {
        const std::size_t name_end = FindClose(text, open + 1, ')', IsNameDelimiter);
        if (name_end == std::string_view::npos || name_end == open + 1) {
            continue;
        }
        const std::size_t brace = name_end + 1;
        if (brace >= text.size() || text[brace] != '{') {
            continue;
        }
        const std::size_t value_end = FindClose(text, brace + 1, '}', IsValueDelimiter);
        if (value_end == std::string_view::npos) {
            continue;
        }
        position = value_end + 1;
        return ConfigItem{text.substr(open + 1, name_end - open - 1),
                          text.substr(brace + 1, value_end - brace - 1)};
    }
    position = text.size();
    return std::nullopt;
}

std::vector<ConfigItem> ParseItems(std::string_view text) {
    std::vector<ConfigItem> items;
    std::size_t position = 0;
    while (auto item = FindItem(text, position)) {
        items.push_back(*item);
    }
    return items;
}

std::optional<std::string_view> FindItemValue(std::string_view text, std::string_view name) {
    std::size_t position = 0;
    while (auto item = FindItem(text, position)) {
        if (item->name == name) {
            return item->value;
        }
    }
    return std::nullopt;
}

std::string ConfigTextFromFile(std::string_view content) {
    // The old DOS end-of-file mark: editors of that lineage still write it.
    if (const std::size_t end = content.find('\x1a'); end != std::string_view::npos) {
        content = content.substr(0, end);
    }
    std::optional<std::string_view> dev_id;
    std::string others;
    while (!content.empty()) {
        const std::size_t line_end = content.find('\n');
        std::string_view line = content.substr(0, line_end);
        content =
            line_end == std::string_view::npos ? std::string_view{} : content.substr(line_end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::size_t position = 0;
        const auto item = FindItem(line, position);
        if (!item) {
            continue;
        }
        // A second DevID would only shadow the first one TunnelStart uses.
        if (item->name == "DevID") {
            if (!dev_id) {
                dev_id = item->value;
            }
            continue;
        }
        others += '(';
        others += item->name;
        others += "){";
        others += item->value;
        others += '}';
    }
    std::string text = "(DevID){";
    text += dev_id.value_or(std::string_view{});
    text += '}';
    text += others;
    return text;
}

bool IsValidEndpoint(std::string_view text) {
    const char* at = text.data();
    const char* const end = at + text.size();
    unsigned value = 0;
    // Reads a number of at most `max_digits` digits into `value`. After a
    // leading 0 it stops, so the separator check refuses any digit there.
    const auto read_number = [&](int max_digits) {
        if (at == end || static_cast<unsigned char>(*at - '0') > 9) {
            return false;
        }
        value = static_cast<unsigned>(*at++ - '0');
        for (int digits = 1; value != 0 && digits < max_digits && at != end; ++digits) {
            const unsigned digit = static_cast<unsigned char>(*at - '0');
            if (digit > 9) {
                break;
            }
            value = value * 10 + digit;
            ++at;
        }
        return true;
    };
    for (const char separator : {'.', '.', '.', ':'}) {
        if (!read_number(3) || value > 255 || at == end || *at++ != separator) {
            return false;
        }
    }
    return read_number(5) && at == end && value >= 1 && value <= 65535;
}

bool IsBareFileName(std::string_view name) {
    return name.find_first_of("/\\") == std::string_view::npos;
}

bool IsAbsolutePath(std::string_view path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
        return true;
    }
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool ResolveBesideExecutable(const char* name, std::string& path) {
    // Spelled as the program spells it, so that a folder the ANSI code page
    // cannot spell still opens.
    char directory[kPathCapacity] = {};
    GetProgramFolder(directory);
    if (directory[0] == '\0') {
        return false;
    }
    char combined[kPathCapacity] = {};
    if (PathCombineA(combined, directory, name) == nullptr) {
        return false;
    }
    path = combined;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    // A FIFO would wait for a writer, a device read forever: only a regular
    // file (a link's target counts) is read.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    // On Windows a file that another process is replacing refuses to open
    // for a moment, as a denied access.
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    for (int tries = 1; !file && errno == EACCES && tries < 100; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        file.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!file) {
        return false;
    }
    content.clear();
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        content.append(chunk, got);
    }
    // A directory opens fine on POSIX and fails only here.
    return std::ferror(file.get()) == 0;
}

}  // namespace tunnel_sim
