#include "startup/tunnel_config.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "files/durable_file.h"
#include "platform/os_durable_file.h"
#include "platform/os_sleep.h"
#include "platform/os_user_conventions.h"
#include "run/diagnostics.h"

namespace {

constexpr char kNulRemark[] =
    "tunnel.cfg holds a NUL byte: the library reads its line only up to it";

// A file that keeps changing is made again from its new content this many
// times before the rewrite gives up.
constexpr int kMostRewrites = 3;

// How long a temp.cfg that another start holds is waited for: that start
// needs a few milliseconds, unless it hangs.
constexpr int kInUseWaits = 100;
constexpr unsigned kInUseWaitMilliseconds = 20;

// The next text to stage: a line as read, or the Home item in its place;
// at the end, the item added when no line had it.
void TakeNextPart(HomeRewrite& rewrite) {
    const std::string_view item(rewrite.item.data(), rewrite.item_size);
    const std::string_view line = ReadTextPiece(*rewrite.config, rewrite.piece);
    if (line.empty()) {
        rewrite.ended = true;
        if (!rewrite.config->failed && !rewrite.home_found) {
            rewrite.pending = item.substr(0, item.size() - 1);
        }
        return;
    }
    // The library reads a line only up to a NUL byte.
    rewrite.holds_nul = rewrite.holds_nul || line.find('\0') != std::string_view::npos;
    if (line.find("(Home)") == std::string_view::npos) {
        rewrite.pending = line;
        return;
    }
    rewrite.home_found = true;
    rewrite.pending = item.substr(1, item.size() - (line.back() == '\n' ? 1 : 2));
}

// One try: tunnel.cfg read, rewritten into `replacement` and committed.
ReplaceResult RewriteOnce(FileReplacement& replacement, const char* program_dir,
                          const char* home_path, bool& holds_nul) {
    ReplaceResult result = ReplaceOpen(replacement, program_dir, "tunnel.cfg", "temp.cfg");
    if (result.code != ReplaceResult::kDone) {
        return result;
    }
    TextReader config{.read = ReadFromFile, .source = replacement.current};
    HomeRewrite rewrite;
    StartHomeRewrite(rewrite, config, home_path);
    std::array<char, 4096> bytes;
    for (std::size_t size = 0; (size = NextRewrittenBytes(rewrite, bytes)) > 0;) {
        result = ReplaceWrite(replacement, {bytes.data(), size});
        if (result.code != ReplaceResult::kDone) {
            return result;
        }
    }
    if (config.failed) {
        ReplaceDrop(replacement);
        return {.code = ReplaceResult::kFailed,
                .step = ReplaceResult::kRead,
                .error = config.error,
                .path = replacement.target.data()};
    }
    // Once its content stood complete, though a save may have it made again.
    holds_nul = holds_nul || rewrite.holds_nul;
    return ReplaceCommit(replacement);
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
void ReportRewrite(const ReplaceResult& result, const char* folder) {
    const char* path = result.path;
    switch (result.code) {
        case ReplaceResult::kDone:
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
        case ReplaceResult::kChanged:
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
            folder, kWritableFolderExample);
    } else {
        ReportProblem(
            "the folder %s may not be written: unpack tunnelconsole into a folder you may write, "
            "such as %s",
            folder, kWritableFolderExample);
    }
}

}  // namespace

void StartHomeRewrite(HomeRewrite& rewrite, TextReader& config, const char* home_path) {
    rewrite.config = &config;
    const int size =
        std::snprintf(rewrite.item.data(), rewrite.item.size(), "\n(Home){%s}\n", home_path);
    rewrite.item_size = std::min(static_cast<std::size_t>(size), rewrite.item.size() - 1);
}

std::size_t NextRewrittenBytes(HomeRewrite& rewrite, std::span<char> out) {
    std::size_t used = 0;
    for (;;) {
        if (rewrite.pending.empty()) {
            if (rewrite.ended) {
                return used;
            }
            TakeNextPart(rewrite);
            continue;
        }
        const StagedText staged = StageText(rewrite.pending, out.subspan(used));
        if (staged.taken == 0) {
            return used;
        }
        used += staged.stored;
        rewrite.pending.remove_prefix(staged.taken);
    }
}

bool PrepareTunnelConfig(const char* program_dir) {
    PathText home_path{};
    // Never longer than the path of tunnel.cfg in the same folder, which the
    // replace joins first and reports when it does not fit.
    static_assert(sizeof "Home" < sizeof "tunnel.cfg");
    if (!OsJoinPath(home_path, program_dir, "Home")) {
        home_path[0] = '\0';
    }
    FileReplacement replacement;
    bool holds_nul = false;
    int rewrites = 0;
    int waits = 0;
    ReplaceResult result;
    for (;;) {
        result = RewriteOnce(replacement, program_dir, home_path.data(), holds_nul);
        if (result.code == ReplaceResult::kChanged && ++rewrites < kMostRewrites) {
            continue;
        }
        // Usually the other start has finished by then, and there is nothing to do.
        if (result.code == ReplaceResult::kScratchInUse && ++waits < kInUseWaits) {
            OsSleep(kInUseWaitMilliseconds);
            continue;
        }
        break;
    }
    if (holds_nul) {
        ReportProblem("%s", kNulRemark);
    }
    ReportRewrite(result, replacement.folder.data());
    return result.code == ReplaceResult::kDone || result.code == ReplaceResult::kFolderNotFlushed;
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
