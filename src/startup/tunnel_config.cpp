#include "startup/tunnel_config.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/text_stream.h"
#include "platform/win32_calls.h"

namespace {

constexpr std::size_t kPathCapacity = 4096;
// Each read takes at most 1023 characters; a longer line arrives in pieces.
constexpr std::size_t kPieceCapacity = 1024;

using Path = std::array<char, kPathCapacity>;

bool WriteHomeItem(std::FILE* temp, const char* home_path, bool with_line_break) {
    return WriteText(temp, "(Home){") && WriteText(temp, home_path) && WriteText(temp, "}") &&
           (!with_line_break || WriteText(temp, "\n"));
}

// Copies `tunnel` to `temp` with the Home items replaced. False if a read or
// write failed.
bool WriteReplacedConfig(std::FILE* tunnel, std::FILE* temp, const char* home_path) {
    TextReader reader = MakeTextReader(ReadFromFile, tunnel);
    std::array<char, kPieceCapacity> piece{};
    bool home_found = false;
    for (;;) {
        const std::string_view line = ReadTextPiece(reader, piece);
        if (line.empty()) {
            break;
        }
        bool written = false;
        if (line.find("(Home)") != std::string_view::npos) {
            home_found = true;
            written = WriteHomeItem(temp, home_path, line.back() == '\n');
        } else {
            written = WriteText(temp, line);
        }
        if (!written) {
            return false;
        }
    }
    if (reader.failed) {
        return false;
    }
    return home_found || (WriteText(temp, "\n") && WriteHomeItem(temp, home_path, false));
}

}  // namespace

void PrepareTunnelConfig(const char* program_dir) {
    Path tunnel_path{};
    Path temp_path{};
    Path home_path{};
    PathCombineA(tunnel_path.data(), program_dir, "tunnel.cfg");
    PathCombineA(temp_path.data(), program_dir, "temp.cfg");
    PathCombineA(home_path.data(), program_dir, "Home");

    std::FILE* tunnel = std::fopen(tunnel_path.data(), "rb+");
    if (tunnel == nullptr) {
        return;
    }
    std::FILE* temp = std::fopen(temp_path.data(), "wb+");
    if (temp == nullptr) {
        std::fclose(tunnel);
        return;
    }
    bool complete = WriteReplacedConfig(tunnel, temp, home_path.data());
    complete = std::fflush(temp) == 0 && complete;
    complete = std::fclose(temp) == 0 && complete;
    std::fclose(tunnel);
    if (!complete) {
        std::remove(temp_path.data());
        return;
    }
    MoveFileExA(temp_path.data(), tunnel_path.data(), MOVEFILE_REPLACE_EXISTING);
}

void SubstituteDeviceId(std::span<char> config_text, const char* device_id_text) {
    constexpr std::string_view kItemStart = "(DevID){";
    const std::string_view new_value(device_id_text);
    const std::string_view text(config_text.data(),
                                strnlen(config_text.data(), config_text.size()));
    if (new_value.empty() || text.size() == config_text.size()) {
        return;
    }
    const std::size_t item = text.find(kItemStart);
    if (item == std::string_view::npos) {
        return;
    }
    const std::size_t value_start = item + kItemStart.size();
    const std::size_t value_end = text.find('}', value_start);
    if (value_end == std::string_view::npos) {
        return;
    }
    const std::size_t new_length = text.size() - (value_end - value_start) + new_value.size();
    if (new_length >= config_text.size()) {
        return;
    }
    // The rest of the text, from the closing brace through the terminator.
    std::memmove(config_text.data() + value_start + new_value.size(),
                 config_text.data() + value_end, text.size() - value_end + 1);
    std::memcpy(config_text.data() + value_start, new_value.data(), new_value.size());
}
