#include "startup/tunnel_config.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/os_durable_file.h"
#include "platform/os_system.h"
#include "run/diagnostics.h"

namespace {

// Each read takes at most 1023 characters; a longer line arrives in pieces.
constexpr std::size_t kPieceCapacity = 1024;

constexpr char kNulRemark[] =
    "tunnel.cfg holds a NUL byte: the library reads its line only up to it";

bool WriteHomeItem(ReplacementOutput& output, const char* home_path, bool with_line_break) {
    return WriteReplacementText(output, "(Home){") && WriteReplacementText(output, home_path) &&
           WriteReplacementText(output, "}") &&
           (!with_line_break || WriteReplacementText(output, "\n"));
}

Production RewriteInto(TextReader& config, ReplacementOutput& output, const char* home_path) {
    Production rewrite;
    std::array<char, kPieceCapacity> piece{};
    bool home_found = false;
    for (;;) {
        const std::string_view line = ReadTextPiece(config, piece);
        if (line.empty()) {
            break;
        }
        // The library reads a line only up to a NUL byte.
        if (line.find('\0') != std::string_view::npos) {
            rewrite.remark = kNulRemark;
        }
        bool written = false;
        if (line.find("(Home)") != std::string_view::npos) {
            home_found = true;
            written = WriteHomeItem(output, home_path, line.back() == '\n');
        } else {
            written = WriteReplacementText(output, line);
        }
        if (!written) {
            rewrite.status = Production::kWriteFailed;
            rewrite.error = errno;
            return rewrite;
        }
    }
    if (config.failed) {
        rewrite.status = Production::kReadFailed;
        rewrite.error = errno;
        return rewrite;
    }
    if (!home_found &&
        !(WriteReplacementText(output, "\n") && WriteHomeItem(output, home_path, false))) {
        rewrite.status = Production::kWriteFailed;
        rewrite.error = errno;
    }
    return rewrite;
}

Production RewriteConfig(const void* home_path, std::FILE* current, ReplacementOutput& output) {
    TextReader reader = MakeTextReader(ReadFromFile, current);
    return RewriteInto(reader, output, static_cast<const char*>(home_path));
}

bool RefusedForPermission(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

constexpr const char* StepName(ReplaceResult::Step step, bool refused_write) {
    switch (step) {
        case ReplaceResult::kFollowLink:
            return "follow the link";
        case ReplaceResult::kOpen:
            // A file that was read and may not be written: the write was refused.
            return refused_write ? "write" : "open";
        case ReplaceResult::kRead:
            return "read";
        case ReplaceResult::kCreate:
            return "create";
        case ReplaceResult::kRemove:
            return "remove";
        case ReplaceResult::kSetPermissions:
            return "set the permissions of";
        case ReplaceResult::kWrite:
            return "write";
        case ReplaceResult::kFlush:
            return "flush";
        case ReplaceResult::kReplace:
            return "replace";
    }
    return "change";
}

// Says what the rewrite of tunnel.cfg did, when it did not simply succeed, and
// after a refusal that moving the program mends, where to move it.
void ReportRewrite(const ReplaceResult& result) {
    if (result.remark != nullptr) {
        ReportProblem("%s", result.remark);
    }
    const char* path = result.path.data();
    switch (result.code) {
        case ReplaceResult::kReplaced:
            return;
        case ReplaceResult::kFolderNotFlushed:
            ReportProblem(
                "tunnel.cfg was replaced, but its folder could not be flushed to stable storage: "
                "%s",
                std::strerror(result.error));
            return;
        case ReplaceResult::kFolderTooLong:
            ReportProblem(
                "tunnel.cfg was not rewritten: the folder %s is too long: a path in it may have "
                "at most %u characters",
                path, OsLongestJoinedPath());
            return;
        case ReplaceResult::kTooManyLinks:
            ReportProblem(
                "tunnel.cfg was not rewritten: more than %d symbolic links lead on from %s",
                kMaxLinksFollowed, path);
            return;
        case ReplaceResult::kNotRegularFile:
            ReportProblem("tunnel.cfg was not rewritten: %s is not a regular file", path);
            return;
        case ReplaceResult::kKeptChanging:
            ReportProblem(
                "tunnel.cfg was not rewritten: %s changed while it was rewritten, %d times", path,
                kMostRewrites);
            return;
        case ReplaceResult::kScratchInUse:
            ReportProblem(
                "tunnel.cfg was not rewritten: another start is rewriting it (%s stayed in use)",
                path);
            return;
        case ReplaceResult::kFailed:
            break;
    }
    const bool refused = RefusedForPermission(result.error);
    ReportProblem("tunnel.cfg was not rewritten: cannot %s %s: %s",
                  StepName(result.step, refused && result.writes == ReplaceResult::kTheFile), path,
                  std::strerror(result.error));
    if (!refused || result.writes == ReplaceResult::kNeither) {
        return;
    }
    if (result.writes == ReplaceResult::kTheFile) {
        ReportProblem(
            "tunnel.cfg in %s may not be written: make it writable, or unpack tunnelconsole into a "
            "folder you may write, such as %s",
            result.folder.data(), kWritableFolderExample);
    } else {
        ReportProblem(
            "the folder %s may not be written: unpack tunnelconsole into a folder you may write, "
            "such as %s",
            result.folder.data(), kWritableFolderExample);
    }
}

}  // namespace

Production RewriteHomeItems(TextReader& config, std::FILE* temp, const char* home_path) {
    ReplacementOutput output{.file = temp};
    return RewriteInto(config, output, home_path);
}

bool PrepareTunnelConfig(const char* program_dir) {
    PathText home_path{};
    // Never longer than the path of tunnel.cfg in the same folder, which the
    // replace joins first and reports when it does not fit.
    static_assert(sizeof "Home" < sizeof "tunnel.cfg");
    if (!OsJoinPath(home_path, program_dir, "Home")) {
        home_path[0] = '\0';
    }
    const ReplaceResult result =
        ReplaceFileIfUnchanged(program_dir, "tunnel.cfg", "temp.cfg",
                               {.produce = RewriteConfig, .context = home_path.data()});
    ReportRewrite(result);
    return result.code == ReplaceResult::kReplaced ||
           result.code == ReplaceResult::kFolderNotFlushed;
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
