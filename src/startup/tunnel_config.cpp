#include "startup/tunnel_config.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/diagnostics.h"
#include "platform/durable_file.h"
#include "platform/program_folder.h"
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

// True when the file `source` reads (from its start) already holds exactly
// what the rewrite would write, so that nothing needs to be written at all
// (the usual case after the first start). Both streams only read, so a file
// that may be read but not written is no failure. A failed read says no; the
// rewrite then reports it.
bool AlreadyRewritten(std::FILE* source, const char* tunnel_path, const char* home_path) {
    std::FILE* held = std::fopen(tunnel_path, "rb");
    if (held == nullptr) {
        return false;
    }
    TextReader reader = MakeTextReader(ReadFromFile, source);
    RewriteTarget target{.file = held, .compare = true};
    const HomeRewrite rewrite = RewriteInto(reader, target, home_path);
    // Bytes after a Ctrl-Z, which ends the text, are bytes the rewrite drops.
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
                   const Path& temp_path, const char* home_path, bool& nul_reported) {
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
    // Once, though a save meanwhile may have the text written again.
    if (!nul_reported) {
        WarnOfNul(rewrite);
        nul_reported = rewrite.holds_nul;
    }
    if (!OsFlushToDisk(temp)) {
        ReportNotRewritten("flush", temp_path.data(), errno);
        return false;
    }
    return true;
}

// How often a tunnel.cfg that keeps changing is read again, and how long a
// temp.cfg that another start holds (or, on Windows, a tunnel.cfg that
// another process reads) is waited for: that start needs a few
// milliseconds, unless it hangs.
constexpr int kMaxRewrites = 3;
constexpr int kInUseWaits = 100;
constexpr DWORD kInUseWaitMilliseconds = 20;

void ReportFolderTooLong(const char* folder) {
    ReportProblem(
        "tunnel.cfg was not rewritten: the folder %s is too long: a path in it may have at most "
        "%u characters",
        folder, static_cast<unsigned>(MAX_PATH - 1));
}

struct ConfigPaths {
    Path tunnel;
    Path temp;
    Path home;
    Path folder;  // the one tunnel.cfg and temp.cfg are in
};

// A refusal the user can mend by installing elsewhere: a folder of their own.
bool RefusedForPermission(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

void AdviseWritableFolder(const ConfigPaths& paths, bool file_refused) {
    ReportProblem(
        "%s%s may not be written: %sunpack tunnelconsole into a folder you may write, such as "
        "%s",
        file_refused ? "tunnel.cfg in " : "the folder ", paths.folder.data(),
        file_refused ? "make it writable, or " : "", kWritableFolderExample);
}

// What the tries of one start share.
struct Progress {
    int waits = 0;  // for another process, kInUseWaitMilliseconds each
    bool nul_reported = false;
};

enum class Attempt {
    kDone,       // rewritten, or already so
    kFailed,     // failed and reported
    kChanged,    // tunnel.cfg changed while it was being rewritten
    kTempInUse,  // another start is writing temp.cfg
};

// The rename failed: perhaps only the flush of the folder after it.
Attempt ReportFailedReplace(const ConfigPaths& paths, ScratchFile& temp,
                            const FileIdentity& written, int error) {
    FileIdentity now;
    if (OsIdentifyPath(paths.tunnel.data(), now) && SameFile(now, written)) {
        ReportProblem(
            "tunnel.cfg was replaced, but its folder could not be flushed to stable "
            "storage: %s",
            std::strerror(error));
        OsReleaseScratchFile(temp);
        return Attempt::kDone;
    }
    OsDiscardScratchFile(paths.temp.data(), temp);
    if (error == ENOENT) {
        // temp.cfg was taken away under us, by a start that took it for stale.
        return Attempt::kChanged;
    }
    ReportNotRewritten("replace", paths.tunnel.data(), error);
    return Attempt::kFailed;
}

// Renames the complete temp.cfg over tunnel.cfg, provided tunnel.cfg is
// still the file that was read: an editor that saved it meanwhile keeps its
// save, and the rewrite starts again from it.
Attempt Replace(const ConfigPaths& paths, ScratchFile& temp, const FileIdentity& read,
                const FileIdentity& written, Progress& progress) {
    for (;;) {
        FileIdentity current{};
        if (!OsIdentifyPath(paths.tunnel.data(), current) || !SameFileUnchanged(current, read)) {
            OsDiscardScratchFile(paths.temp.data(), temp);
            return Attempt::kChanged;
        }
        if (MoveFileExA(paths.temp.data(), paths.tunnel.data(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            OsReleaseScratchFile(temp);
            return Attempt::kDone;
        }
        // Another start, or the library in it, may read tunnel.cfg for a
        // moment, which on Windows keeps it from being replaced.
        const int error = OsLastFileError();
        if (!OsReplaceBlockedByAnOpenFile(error) || ++progress.waits == kInUseWaits) {
            return ReportFailedReplace(paths, temp, written, error);
        }
        Sleep(kInUseWaitMilliseconds);
    }
}

Attempt RewriteOnce(const ConfigPaths& paths, Progress& progress) {
    std::FILE* source = std::fopen(paths.tunnel.data(), "rb");
    if (source == nullptr) {
        ReportNotRewritten("open", paths.tunnel.data(), errno);
        return Attempt::kFailed;
    }
    const bool same = AlreadyRewritten(source, paths.tunnel.data(), paths.home.data());
    std::fclose(source);
    if (same) {
        return Attempt::kDone;
    }
    // Opened for update too: a file the user may not write is not replaced.
    std::FILE* tunnel = std::fopen(paths.tunnel.data(), "rb+");
    if (tunnel == nullptr) {
        const int error = errno;
        ReportNotRewritten("open", paths.tunnel.data(), error);
        if (RefusedForPermission(error)) {
            AdviseWritableFolder(paths, true);
        }
        return Attempt::kFailed;
    }
    FileIdentity read{};
    if (!OsIdentifyFile(tunnel, read)) {
        ReportNotRewritten("read", paths.tunnel.data(), errno);
        std::fclose(tunnel);
        return Attempt::kFailed;
    }
    ScratchFile temp;
    const ScratchCreation creation = OsCreateScratchFile(paths.temp.data(), temp);
    if (creation != ScratchCreation::kCreated) {
        const int error = errno;
        if (creation != ScratchCreation::kInUse) {
            ReportNotRewritten(creation == ScratchCreation::kRemoveFailed ? "remove" : "create",
                               paths.temp.data(), error);
            // Only a refused creation says so of the folder: a temp.cfg that
            // is a folder of its own cannot be removed either (on Windows
            // with the same error), and moving the program would not help.
            if (creation == ScratchCreation::kCreateFailed && RefusedForPermission(error)) {
                AdviseWritableFolder(paths, false);
            }
        }
        std::fclose(tunnel);
        return creation == ScratchCreation::kInUse ? Attempt::kTempInUse : Attempt::kFailed;
    }
    bool complete = WriteTempFile(tunnel, temp.stream, paths.tunnel, paths.temp, paths.home.data(),
                                  progress.nul_reported);
    FileIdentity written{};
    static_cast<void>(OsIdentifyFile(temp.stream, written));
    const int closed = std::fclose(temp.stream);
    temp.stream = nullptr;
    if (closed != 0 && complete) {
        ReportNotRewritten("write", paths.temp.data(), errno);
        complete = false;
    }
    std::fclose(tunnel);
    if (!complete) {
        OsDiscardScratchFile(paths.temp.data(), temp);
        return Attempt::kFailed;
    }
    return Replace(paths, temp, read, written, progress);
}

}  // namespace

HomeRewrite RewriteHomeItems(TextReader& config, std::FILE* temp, const char* home_path) {
    RewriteTarget target{.file = temp};
    return RewriteInto(config, target, home_path);
}

bool PrepareTunnelConfig(const char* program_dir) {
    Path link_path{};
    ConfigPaths paths{};
    if (PathCombineA(link_path.data(), program_dir, "tunnel.cfg") == nullptr ||
        PathCombineA(paths.home.data(), program_dir, "Home") == nullptr) {
        ReportFolderTooLong(program_dir);
        return false;
    }
    switch (OsResolveLink(link_path.data(), paths.tunnel)) {
        case LinkResolution::kResolved:
            break;
        case LinkResolution::kTooLong:
            ReportNotRewritten("follow the link", link_path.data(), ENAMETOOLONG);
            return false;
        case LinkResolution::kTooManyLinks:
            ReportProblem(
                "tunnel.cfg was not rewritten: more than %d symbolic links lead on "
                "from %s",
                kMaxLinksFollowed, link_path.data());
            return false;
    }
    // Read, it would wait for a writer or never end.
    if (OsIsSpecialFile(paths.tunnel.data())) {
        ReportProblem("tunnel.cfg was not rewritten: %s is not a regular file", link_path.data());
        return false;
    }
    // Beside the file it replaces, so the rename stays within one file system.
    paths.folder = paths.tunnel;
    PathRemoveFileSpecA(paths.folder.data());
    if (PathCombineA(paths.temp.data(), paths.folder.data(), "temp.cfg") == nullptr) {
        ReportFolderTooLong(paths.folder.data());
        return false;
    }
    int rewrites = 0;
    Progress progress;
    for (;;) {
        const Attempt attempt = RewriteOnce(paths, progress);
        if (attempt == Attempt::kDone || attempt == Attempt::kFailed) {
            return attempt == Attempt::kDone;
        }
        if (attempt == Attempt::kChanged && ++rewrites == kMaxRewrites) {
            ReportProblem(
                "tunnel.cfg was not rewritten: %s changed while it was rewritten, %d "
                "times",
                paths.tunnel.data(), kMaxRewrites);
            return false;
        }
        if (attempt == Attempt::kTempInUse) {
            if (++progress.waits >= kInUseWaits) {
                ReportProblem(
                    "tunnel.cfg was not rewritten: another start is rewriting it (%s "
                    "stayed in use)",
                    paths.temp.data());
                return false;
            }
            Sleep(kInUseWaitMilliseconds);
        }
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
