#include "files/durable_file.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/os_durable_file.h"
#include "platform/os_system.h"
#include "text/text_stream.h"

namespace {

using Path = PathText;

// How often a file that keeps changing is read again, and how long a scratch
// file that another start holds (or, on Windows, a file that another process
// reads) is waited for: that start needs a few milliseconds, unless it hangs.
constexpr int kInUseWaits = 100;
constexpr unsigned kInUseWaitMilliseconds = 20;

// The file being replaced, and what the tries of one replace share.
struct Replacement {
    const char* name = nullptr;
    ContentProducer producer;
    Path link{};                   // the folder joined with the name
    Path target{};                 // the file at the end of the link chain
    Path folder{};                 // the target's folder
    Path scratch{};                // beside the target, so the rename stays within one file system
    int waits = 0;                 // for another process, kInUseWaitMilliseconds each
    const char* remark = nullptr;  // the producer's, due
};

// What went wrong, with the path it names, until the replace is over.
struct Notice {
    ReplaceResult::Code code = ReplaceResult::kReplaced;
    const char* path = nullptr;
    ReplaceResult::Step step = ReplaceResult::kOpen;
    int error = 0;
    ReplaceResult::Writes writes = ReplaceResult::kNeither;
};

Notice Failed(ReplaceResult::Step step, const char* path, int error,
              ReplaceResult::Writes writes = ReplaceResult::kNeither) {
    return {.code = ReplaceResult::kFailed,
            .path = path,
            .step = step,
            .error = error,
            .writes = writes};
}

// The producer's remark, due once its content stood complete.
void NoteRemark(Replacement& file, const Production& production) {
    if (file.remark == nullptr) {
        file.remark = production.remark;
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
        return {.code = ReplaceResult::kFolderTooLong, .path = folder};
    }
    switch (OsResolveLink(file.link.data(), file.target)) {
        case LinkResolution::kResolved:
            break;
        case LinkResolution::kTooLong:
            return Failed(ReplaceResult::kFollowLink, file.link.data(), ENAMETOOLONG);
        case LinkResolution::kTooManyLinks:
            return {.code = ReplaceResult::kTooManyLinks, .path = file.link.data()};
    }
    // Read, it would wait for a writer or never end.
    if (OsIsSpecialFile(file.target.data())) {
        return {.code = ReplaceResult::kNotRegularFile, .path = file.link.data()};
    }
    file.folder = file.target;
    OsRemoveLastComponent(file.folder.data());
    if (!OsJoinPath(file.scratch, file.folder.data(), scratch_name)) {
        return {.code = ReplaceResult::kFolderTooLong, .path = file.folder.data()};
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
    if (same) {
        NoteRemark(file, production);
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
        notice = Failed(ReplaceResult::kSetPermissions, file.scratch.data(), errno);
        return false;
    }
    ReplacementOutput output{.file = scratch};
    const Production production = file.producer.produce(file.producer.context, current, output);
    if (production.status == Production::kReadFailed) {
        notice = Failed(ReplaceResult::kRead, file.target.data(), production.error);
        return false;
    }
    if (production.status == Production::kWriteFailed || std::fflush(scratch) != 0) {
        notice = Failed(ReplaceResult::kWrite, file.scratch.data(),
                        production.status == Production::kWriteFailed ? production.error : errno);
        return false;
    }
    // Once, though a save meanwhile may have the content made again.
    NoteRemark(file, production);
    if (!OsFlushToDisk(scratch)) {
        notice = Failed(ReplaceResult::kFlush, file.scratch.data(), errno);
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
        notice = Failed(ReplaceResult::kRemove, file.scratch.data(), errno);
        return Attempt::kFailed;
    }
    if (creation != ScratchCreation::kCreated) {
        notice =
            Failed(ReplaceResult::kCreate, file.scratch.data(), errno, ReplaceResult::kTheFolder);
        return Attempt::kFailed;
    }
    return Attempt::kDone;
}

// Fills the scratch file from `current`; notes which file was read and which
// written.
Attempt FillScratchFile(Replacement& file, std::FILE* current, ScratchFile& scratch,
                        FileIdentity& read, FileIdentity& written, Notice& notice) {
    if (!OsIdentifyFile(current, read)) {
        notice = Failed(ReplaceResult::kRead, file.target.data(), errno);
        return Attempt::kFailed;
    }
    bool complete = WriteContent(file, current, scratch.os.stream, notice);
    static_cast<void>(OsIdentifyFile(scratch.os.stream, written));
    const int closed = std::fclose(scratch.os.stream);
    scratch.os.stream = nullptr;
    if (closed != 0 && complete) {
        notice = Failed(ReplaceResult::kWrite, file.scratch.data(), errno);
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
        notice = {.code = ReplaceResult::kFolderNotFlushed, .error = error};
        return Attempt::kDone;
    }
    if (error == ENOENT) {
        // The scratch file was taken away under us, by a start that took it
        // for stale.
        return Attempt::kChanged;
    }
    notice = Failed(ReplaceResult::kReplace, file.target.data(), error);
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
        notice = Failed(ReplaceResult::kOpen, file.target.data(), errno);
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
        notice = Failed(ReplaceResult::kOpen, file.target.data(), errno, ReplaceResult::kTheFile);
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
                if (++rewrites == kMostRewrites) {
                    notice = {.code = ReplaceResult::kKeptChanging, .path = file.target.data()};
                    return false;
                }
                break;
            case Attempt::kScratchInUse:
                if (++file.waits >= kInUseWaits) {
                    notice = {.code = ReplaceResult::kScratchInUse, .path = file.scratch.data()};
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

ReplaceResult ReplaceFileIfUnchanged(const char* folder, const char* name, const char* scratch_name,
                                     ContentProducer producer) {
    Replacement file{.name = name, .producer = producer};
    Notice notice = Locate(file, folder, scratch_name);
    if (notice.code == ReplaceResult::kReplaced) {
        static_cast<void>(ReplaceWithRetries(file, notice));
    }
    ReplaceResult result{.code = notice.code,
                         .step = notice.step,
                         .error = notice.error,
                         .writes = notice.writes,
                         .remark = file.remark};
    if (notice.path != nullptr) {
        std::string_view(notice.path).copy(result.path.data(), result.path.size() - 1);
    }
    std::string_view(file.folder.data()).copy(result.folder.data(), result.folder.size() - 1);
    return result;
}
