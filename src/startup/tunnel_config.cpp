#include "startup/tunnel_config.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/diagnostics.h"
#include "platform/durable_file.h"
#include "platform/win32_calls.h"

namespace {

constexpr std::size_t kPathCapacity = 4096;
// Each read takes at most 1023 characters; a longer line arrives in pieces.
constexpr std::size_t kPieceCapacity = 1024;

using Path = std::array<char, kPathCapacity>;

// Where the rewritten text goes: written to `file`, or, when `compare` is
// set, compared with the bytes `file` holds from where it stands.
struct RewriteTarget {
    std::FILE* file = nullptr;
    bool compare = false;
    bool differs = false;  // compare: the file's bytes differ or ended first
};

bool CompareText(RewriteTarget& target, std::string_view text) {
    std::array<char, 1024> staged;
    std::array<char, 1024> held;
    while (!text.empty() && !target.differs) {
        const StagedText step = StageText(text, staged);
        text.remove_prefix(step.taken);
        const std::size_t count = std::fread(held.data(), 1, step.stored, target.file);
        if (count != step.stored) {
            if (std::ferror(target.file) != 0) {
                return false;
            }
            target.differs = true;
        } else if (std::memcmp(held.data(), staged.data(), count) != 0) {
            target.differs = true;
        }
    }
    return true;
}

bool Emit(RewriteTarget& target, std::string_view text) {
    return target.compare ? CompareText(target, text) : WriteText(target.file, text);
}

bool EmitHomeItem(RewriteTarget& target, const char* home_path, bool with_line_break) {
    return Emit(target, "(Home){") && Emit(target, home_path) && Emit(target, "}") &&
           (!with_line_break || Emit(target, "\n"));
}

HomeRewrite RewriteInto(TextReader& config, RewriteTarget& target, const char* home_path) {
    HomeRewrite rewrite;
    std::array<char, kPieceCapacity> piece{};
    bool home_found = false;
    for (;;) {
        const std::string_view line = ReadTextPiece(config, piece);
        if (line.empty()) {
            break;
        }
        rewrite.holds_nul = rewrite.holds_nul || line.find('\0') != std::string_view::npos;
        bool written = false;
        if (line.find("(Home)") != std::string_view::npos) {
            home_found = true;
            written = EmitHomeItem(target, home_path, line.back() == '\n');
        } else {
            written = Emit(target, line);
        }
        if (!written) {
            rewrite.status = HomeRewrite::kWriteFailed;
            rewrite.error = errno;
            return rewrite;
        }
    }
    if (config.failed) {
        rewrite.status = HomeRewrite::kReadFailed;
        rewrite.error = errno;
        return rewrite;
    }
    if (!home_found && !(Emit(target, "\n") && EmitHomeItem(target, home_path, false))) {
        rewrite.status = HomeRewrite::kWriteFailed;
        rewrite.error = errno;
    }
    return rewrite;
}

void WarnOfNul(const HomeRewrite& rewrite) {
    if (rewrite.holds_nul) {
        ReportProblem("tunnel.cfg holds a NUL byte: the library reads its line only up to it");
    }
}

// True when tunnel.cfg already holds exactly what the rewrite would write, so
// that nothing needs to be written at all (the usual case after the first
// start). A failed read says no; the rewrite then reports it.
bool AlreadyRewritten(std::FILE* tunnel, const char* tunnel_path, const char* home_path) {
    std::FILE* held = std::fopen(tunnel_path, "rb");
    if (held == nullptr) {
        return false;
    }
    TextReader reader = MakeTextReader(ReadFromFile, tunnel);
    RewriteTarget target{.file = held, .compare = true};
    const HomeRewrite rewrite = RewriteInto(reader, target, home_path);
    const bool same = rewrite.status == HomeRewrite::kComplete && !target.differs &&
                      std::fgetc(held) == EOF && std::ferror(held) == 0;
    std::fclose(held);
    if (same) {
        WarnOfNul(rewrite);
    }
    return same;
}

void ReportNotRewritten(const char* step, const char* path, int error) {
    ReportProblem("tunnel.cfg was not rewritten: cannot %s %s: %s", step, path,
                  std::strerror(error));
}

// Writes temp.cfg in full and on stable storage. False (reported) if any
// step failed.
bool WriteTempFile(std::FILE* tunnel, std::FILE* temp, const Path& tunnel_path,
                   const Path& temp_path, const char* home_path) {
    if (!OsKeepFileAttributes(tunnel, temp)) {
        ReportNotRewritten("set the permissions of", temp_path.data(), errno);
        return false;
    }
    TextReader reader = MakeTextReader(ReadFromFile, tunnel);
    const HomeRewrite rewrite = RewriteHomeItems(reader, temp, home_path);
    if (rewrite.status == HomeRewrite::kReadFailed) {
        ReportNotRewritten("read", tunnel_path.data(), rewrite.error);
        return false;
    }
    if (rewrite.status == HomeRewrite::kWriteFailed || std::fflush(temp) != 0) {
        ReportNotRewritten("write", temp_path.data(),
                           rewrite.status == HomeRewrite::kWriteFailed ? rewrite.error : errno);
        return false;
    }
    WarnOfNul(rewrite);
    if (!OsFlushToDisk(temp)) {
        ReportNotRewritten("flush", temp_path.data(), errno);
        return false;
    }
    return true;
}

}  // namespace

HomeRewrite RewriteHomeItems(TextReader& config, std::FILE* temp, const char* home_path) {
    RewriteTarget target{.file = temp};
    return RewriteInto(config, target, home_path);
}

void PrepareTunnelConfig(const char* program_dir) {
    Path link_path{};
    Path tunnel_path{};
    Path temp_path{};
    Path home_path{};
    PathCombineA(link_path.data(), program_dir, "tunnel.cfg");
    PathCombineA(home_path.data(), program_dir, "Home");
    if (!OsResolveLink(link_path.data(), tunnel_path)) {
        ReportNotRewritten("follow the link", link_path.data(), ENAMETOOLONG);
        return;
    }
    // Beside the file it replaces, so the rename stays within one file system.
    Path temp_folder = tunnel_path;
    PathRemoveFileSpecA(temp_folder.data());
    PathCombineA(temp_path.data(), temp_folder.data(), "temp.cfg");

    std::FILE* tunnel = std::fopen(tunnel_path.data(), "rb+");
    if (tunnel == nullptr) {
        ReportNotRewritten("open", tunnel_path.data(), errno);
        return;
    }
    if (AlreadyRewritten(tunnel, tunnel_path.data(), home_path.data())) {
        std::fclose(tunnel);
        return;
    }
    if (std::fseek(tunnel, 0, SEEK_SET) != 0) {
        ReportNotRewritten("read", tunnel_path.data(), errno);
        std::fclose(tunnel);
        return;
    }
    std::FILE* temp = std::fopen(temp_path.data(), "wb");
    if (temp == nullptr) {
        ReportNotRewritten("create", temp_path.data(), errno);
        std::fclose(tunnel);
        return;
    }
    bool complete = WriteTempFile(tunnel, temp, tunnel_path, temp_path, home_path.data());
    if (std::fclose(temp) != 0 && complete) {
        ReportNotRewritten("write", temp_path.data(), errno);
        complete = false;
    }
    std::fclose(tunnel);
    if (!complete) {
        std::remove(temp_path.data());
        return;
    }
    if (MoveFileExA(temp_path.data(), tunnel_path.data(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        ReportNotRewritten("replace", tunnel_path.data(), OsLastFileError());
    }
}

DeviceIdSubstitution SubstituteDeviceId(std::span<char> config_text, const char* device_id_text) {
    constexpr std::string_view kItemStart = "(DevID){";
    const std::string_view new_value(device_id_text);
    const std::string_view text(config_text.data(),
                                strnlen(config_text.data(), config_text.size()));
    if (new_value.empty() || text.size() == config_text.size()) {
        return DeviceIdSubstitution::kNotApplicable;
    }
    const std::size_t item = text.find(kItemStart);
    if (item == std::string_view::npos) {
        return DeviceIdSubstitution::kNotApplicable;
    }
    const std::size_t value_start = item + kItemStart.size();
    const std::size_t value_end = text.find('}', value_start);
    if (value_end == std::string_view::npos) {
        return DeviceIdSubstitution::kNotApplicable;
    }
    // Such an identifier would close the item early or open items of its own.
    if (new_value.find_first_of("(){}") != std::string_view::npos) {
        return DeviceIdSubstitution::kChangesItems;
    }
    const std::size_t new_length = text.size() - (value_end - value_start) + new_value.size();
    if (new_length >= config_text.size()) {
        return DeviceIdSubstitution::kDoesNotFit;
    }
    // The rest of the text, from the closing brace through the terminator.
    std::memmove(config_text.data() + value_start + new_value.size(),
                 config_text.data() + value_end, text.size() - value_end + 1);
    std::memcpy(config_text.data() + value_start, new_value.data(), new_value.size());
    return DeviceIdSubstitution::kDone;
}
