#include "files/durable_file.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "console/text_stream.h"
#include "platform/os_durable_file.h"
#include "platform/os_system.h"
#include "run/diagnostics.h"

namespace {

using Path = PathText;

// How often a file that keeps changing is read again, and how long a scratch
// file that another start holds (or, on Windows, a file that another process
// reads) is waited for: that start needs a few milliseconds, unless it hangs.
constexpr int kMaxRewrites = 3;
constexpr int kInUseWaits = 100;
constexpr unsigned kInUseWaitMilliseconds = 20;

// The file being replaced, and what the tries of one replace share.
struct Replacement {
    const char* name = nullptr;  // as the messages call it
    ContentProducer producer;
    Path link{};     // the folder joined with the name
    Path target{};   // the file at the end of the link chain
    Path folder{};   // the target's folder
    Path scratch{};  // beside the target, so the rename stays within one file system
    int waits = 0;   // for another process, kInUseWaitMilliseconds each
    bool remark_said = false;
};

// Something to say on standard error, said by Report alone.
struct Notice {
    enum Kind {
        kNone,
        kRemark,            // the producer's, in `text`
        kFolderTooLong,     // `path` is the folder
        kCannot,            // `action` on `path` failed with `error`
        kTooManyLinks,      // from `path`
        kNotRegularFile,    // `path`
        kKeptChanging,      // `path`
        kScratchInUse,      // `path` stayed in use
        kFolderNotFlushed,  // replaced, but the rename may not last: `error`
    } kind = kNone;
    const char* path = nullptr;
    const char* action = nullptr;
    int error = 0;
    // After a refusal the user can mend by installing elsewhere: a folder of
    // their own.
    enum Advice { kNoAdvice, kFileMayNotBeWritten, kFolderMayNotBeWritten } advice = kNoAdvice;
    const char* text = "";
};

Notice Cannot(const char* action, const char* path, int error,
              Notice::Advice advice = Notice::kNoAdvice) {
    return {
        .kind = Notice::kCannot, .path = path, .action = action, .error = error, .advice = advice};
}

bool RefusedForPermission(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

void Report(const Replacement& file, const Notice& notice) {
    switch (notice.kind) {
        case Notice::kNone:
            return;
        case Notice::kRemark:
            ReportProblem("%s", notice.text);
            return;
        case Notice::kFolderTooLong:
            ReportProblem(
                "%s was not rewritten: the folder %s is too long: a path in it may have at most "
                "%u characters",
                file.name, notice.path, OsLongestJoinedPath());
            return;
        case Notice::kCannot:
            ReportProblem("%s was not rewritten: cannot %s %s: %s", file.name, notice.action,
                          notice.path, std::strerror(notice.error));
            if (notice.advice != Notice::kNoAdvice && RefusedForPermission(notice.error)) {
                const bool file_refused = notice.advice == Notice::kFileMayNotBeWritten;
                ReportProblem(
                    "%s%s%s may not be written: %sunpack tunnelconsole into a folder you may "
                    "write, such as %s",
                    file_refused ? file.name : "the folder ", file_refused ? " in " : "",
                    file.folder.data(), file_refused ? "make it writable, or " : "",
                    kWritableFolderExample);
            }
            return;
        case Notice::kTooManyLinks:
            ReportProblem("%s was not rewritten: more than %d symbolic links lead on from %s",
                          file.name, kMaxLinksFollowed, notice.path);
            return;
        case Notice::kNotRegularFile:
            ReportProblem("%s was not rewritten: %s is not a regular file", file.name, notice.path);
            return;
        case Notice::kKeptChanging:
            ReportProblem("%s was not rewritten: %s changed while it was rewritten, %d times",
                          file.name, notice.path, kMaxRewrites);
            return;
        case Notice::kScratchInUse:
            ReportProblem("%s was not rewritten: another start is rewriting it (%s stayed in use)",
                          file.name, notice.path);
            return;
        case Notice::kFolderNotFlushed:
            ReportProblem(
                "%s was replaced, but its folder could not be flushed to stable storage: %s",
                file.name, std::strerror(notice.error));
            return;
    }
}

// The producer's remark, at most once for all tries that write.
void SayRemarkOnce(Replacement& file, const Production& production) {
    if (!file.remark_said && production.remark != nullptr) {
        Report(file, {.kind = Notice::kRemark, .text = production.remark});
        file.remark_said = true;
    }
}

bool CompareText(ReplacementOutput& output, std::string_view text) {
    std::array<char, 1024> staged;
    std::array<char, 1024> held;
    while (!text.empty() && !output.differs) {
        const StagedText step = StageText(text, staged);
        text.remove_prefix(step.taken);
        const std::size_t count = std::fread(held.data(), 1, step.stored, output.file);
        if (count != step.stored) {
            if (std::ferror(output.file) != 0) {
                return false;
            }
            output.differs = true;
        } else if (std::memcmp(held.data(), staged.data(), count) != 0) {
            output.differs = true;
        }
    }
    return true;
}

// Finds the file at the end of the link chain, and the scratch file's place.
Notice Locate(Replacement& file, const char* folder, const char* scratch_name) {
    if (!OsJoinPath(file.link, folder, file.name)) {
        return {.kind = Notice::kFolderTooLong, .path = folder};
    }
    switch (OsResolveLink(file.link.data(), file.target)) {
        case LinkResolution::kResolved:
            break;
        case LinkResolution::kTooLong:
            return Cannot("follow the link", file.link.data(), ENAMETOOLONG);
        case LinkResolution::kTooManyLinks:
            return {.kind = Notice::kTooManyLinks, .path = file.link.data()};
    }
    // Read, it would wait for a writer or never end.
    if (OsIsSpecialFile(file.target.data())) {
        return {.kind = Notice::kNotRegularFile, .path = file.link.data()};
    }
    file.folder = file.target;
    OsRemoveLastComponent(file.folder.data());
    if (!OsJoinPath(file.scratch, file.folder.data(), scratch_name)) {
        return {.kind = Notice::kFolderTooLong, .path = file.folder.data()};
    }
    return {};
}

// True when the file (read through `source`) already holds exactly what the
// producer makes of it, so that nothing needs to be written at all (the usual
// case after the first start). Both streams only read, so a file that may be
// read but not written is no failure. A failed read says no; the write then
// reports it.
bool HoldsNewContent(Replacement& file, std::FILE* source) {
    std::FILE* held = std::fopen(file.target.data(), "rb");
    if (held == nullptr) {
        return false;
    }
    ReplacementOutput output{.file = held, .compare = true};
    const Production production = file.producer.produce(file.producer.context, source, output);
    // Bytes beyond the new content are bytes the replace would drop.
    const bool same = production.status == Production::kComplete && !output.differs &&
                      std::fgetc(held) == EOF && std::ferror(held) == 0;
    std::fclose(held);
    if (same && production.remark != nullptr) {
        Report(file, {.kind = Notice::kRemark, .text = production.remark});
    }
    return same;
}

// The scratch file's one cleanup point: removed when it goes out of scope,
// unless it was renamed into place (committed). Until it is made, there is
// nothing to remove: a scratch file that another start holds is not ours.
struct ScratchFile {
    const char* path;
    OsScratchFile os;
    bool committed = false;

    explicit ScratchFile(const char* scratch_path) : path(scratch_path) {}
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        if (committed) {
            OsReleaseScratchFile(os);
        } else if (os.stream != nullptr || os.hold != -1) {
            OsDiscardScratchFile(path, os);
        }
    }
};

enum class Attempt {
    kDone,          // replaced, or already so
    kFailed,        // with a notice
    kChanged,       // the file changed while it was being replaced
    kScratchInUse,  // another start is writing the scratch file
};

// Writes the new content into the scratch file, in full and on stable storage.
bool WriteContent(Replacement& file, std::FILE* current, std::FILE* scratch, Notice& notice) {
    if (!OsKeepFileAttributes(current, scratch)) {
        notice = Cannot("set the permissions of", file.scratch.data(), errno);
        return false;
    }
    ReplacementOutput output{.file = scratch};
    const Production production = file.producer.produce(file.producer.context, current, output);
    if (production.status == Production::kReadFailed) {
        notice = Cannot("read", file.target.data(), production.error);
        return false;
    }
    if (production.status == Production::kWriteFailed || std::fflush(scratch) != 0) {
        notice = Cannot("write", file.scratch.data(),
                        production.status == Production::kWriteFailed ? production.error : errno);
        return false;
    }
    // Once, though a save meanwhile may have the content made again.
    SayRemarkOnce(file, production);
    if (!OsFlushToDisk(scratch)) {
        notice = Cannot("flush", file.scratch.data(), errno);
        return false;
    }
    return true;
}

// Makes the scratch file afresh, before the file is opened for writing: a
// folder that may not be written is what to mend then, whatever the file's
// own mode.
Attempt MakeScratchFile(Replacement& file, ScratchFile& scratch, Notice& notice) {
    const ScratchCreation creation = OsCreateScratchFile(file.scratch.data(), scratch.os);
    if (creation == ScratchCreation::kInUse) {
        return Attempt::kScratchInUse;
    }
    // Only a refused creation says so of the folder: a scratch file that is a
    // folder of its own cannot be removed either (on Windows with the same
    // error), and moving the program would not help.
    if (creation == ScratchCreation::kRemoveFailed) {
        notice = Cannot("remove", file.scratch.data(), errno);
        return Attempt::kFailed;
    }
    if (creation != ScratchCreation::kCreated) {
        notice = Cannot("create", file.scratch.data(), errno, Notice::kFolderMayNotBeWritten);
        return Attempt::kFailed;
    }
    return Attempt::kDone;
}

// Fills the scratch file from `current`; notes which file was read and which
// written.
Attempt FillScratchFile(Replacement& file, std::FILE* current, ScratchFile& scratch,
                        FileIdentity& read, FileIdentity& written, Notice& notice) {
    if (!OsIdentifyFile(current, read)) {
        notice = Cannot("read", file.target.data(), errno);
        return Attempt::kFailed;
    }
    bool complete = WriteContent(file, current, scratch.os.stream, notice);
    static_cast<void>(OsIdentifyFile(scratch.os.stream, written));
    const int closed = std::fclose(scratch.os.stream);
    scratch.os.stream = nullptr;
    if (closed != 0 && complete) {
        notice = Cannot("write", file.scratch.data(), errno);
        complete = false;
    }
    return complete ? Attempt::kDone : Attempt::kFailed;
}

// The rename failed: perhaps only the flush of the folder after it.
Attempt FailedRename(const Replacement& file, ScratchFile& scratch, const FileIdentity& written,
                     int error, Notice& notice) {
    FileIdentity now;
    if (OsIdentifyPath(file.target.data(), now) && SameFile(now, written)) {
        scratch.committed = true;
        notice = {.kind = Notice::kFolderNotFlushed, .error = error};
        return Attempt::kDone;
    }
    if (error == ENOENT) {
        // The scratch file was taken away under us, by a start that took it
        // for stale.
        return Attempt::kChanged;
    }
    notice = Cannot("replace", file.target.data(), error);
    return Attempt::kFailed;
}

// Renames the complete scratch file over the file, provided the file is still
// the one that was read: an editor that saved it meanwhile keeps its save.
Attempt Rename(Replacement& file, ScratchFile& scratch, const FileIdentity& read,
               const FileIdentity& written, Notice& notice) {
    for (;;) {
        FileIdentity current{};
        if (!OsIdentifyPath(file.target.data(), current) || !SameFileUnchanged(current, read)) {
            return Attempt::kChanged;
        }
        if (OsReplaceFile(file.scratch.data(), file.target.data())) {
            scratch.committed = true;
            return Attempt::kDone;
        }
        // Another start, or the library in it, may read the file for a
        // moment, which on Windows keeps it from being replaced.
        const int error = OsLastFileError();
        if (!OsReplaceBlockedByAnOpenFile(error) || ++file.waits == kInUseWaits) {
            return FailedRename(file, scratch, written, error, notice);
        }
        OsSleep(kInUseWaitMilliseconds);
    }
}

// Opens the file to be replaced, waiting while another start replaces it.
std::FILE* OpenTarget(Replacement& file, const char* mode) {
    for (;;) {
        std::FILE* opened = std::fopen(file.target.data(), mode);
        if (opened != nullptr || !OsOpenBlockedForAMoment(file.target.data(), errno) ||
            ++file.waits >= kInUseWaits) {
            return opened;
        }
        OsSleep(kInUseWaitMilliseconds);
    }
}

Attempt ReplaceOnce(Replacement& file, Notice& notice) {
    std::FILE* source = OpenTarget(file, "rb");
    if (source == nullptr) {
        notice = Cannot("open", file.target.data(), errno);
        return Attempt::kFailed;
    }
    const bool same = HoldsNewContent(file, source);
    std::fclose(source);
    if (same) {
        return Attempt::kDone;
    }
    ScratchFile scratch(file.scratch.data());
    if (const Attempt made = MakeScratchFile(file, scratch, notice); made != Attempt::kDone) {
        return made;
    }
    // Opened for update too: a file the user may not write is not replaced.
    // It was read, so what a refusal refused is the write.
    std::FILE* current = OpenTarget(file, "rb+");
    if (current == nullptr) {
        notice = Cannot(RefusedForPermission(errno) ? "write" : "open", file.target.data(), errno,
                        Notice::kFileMayNotBeWritten);
        return Attempt::kFailed;
    }
    FileIdentity read{};
    FileIdentity written{};
    const Attempt filled = FillScratchFile(file, current, scratch, read, written, notice);
    // Closed before the rename: on Windows an open file cannot be replaced.
    std::fclose(current);
    if (filled != Attempt::kDone) {
        return filled;
    }
    return Rename(file, scratch, read, written, notice);
}

bool ReplaceWithRetries(Replacement& file, Notice& notice) {
    int rewrites = 0;
    for (;;) {
        switch (ReplaceOnce(file, notice)) {
            case Attempt::kDone:
                return true;
            case Attempt::kFailed:
                return false;
            case Attempt::kChanged:
                if (++rewrites == kMaxRewrites) {
                    notice = {.kind = Notice::kKeptChanging, .path = file.target.data()};
                    return false;
                }
                break;
            case Attempt::kScratchInUse:
                if (++file.waits >= kInUseWaits) {
                    notice = {.kind = Notice::kScratchInUse, .path = file.scratch.data()};
                    return false;
                }
                OsSleep(kInUseWaitMilliseconds);
                break;
        }
    }
}

}  // namespace

bool WriteReplacementText(ReplacementOutput& output, std::string_view text) {
    return output.compare ? CompareText(output, text) : WriteText(output.file, text);
}

bool ReplaceFileIfUnchanged(const char* folder, const char* name, const char* scratch_name,
                            ContentProducer producer) {
    Replacement file{.name = name, .producer = producer};
    Notice notice = Locate(file, folder, scratch_name);
    const bool replaced = notice.kind == Notice::kNone && ReplaceWithRetries(file, notice);
    Report(file, notice);
    return replaced;
}
