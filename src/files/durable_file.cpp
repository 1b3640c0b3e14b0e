#include "files/durable_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/os_sleep.h"

namespace {

// How long a file that another process holds for a moment is waited for: on
// Windows, one being replaced or read by another start, or by the library
// in it. That start needs a few milliseconds, unless it hangs.
constexpr int kInUseWaits = 100;
constexpr unsigned kInUseWaitMilliseconds = 20;

// The size of the pieces compared and copied.
constexpr std::size_t kChunk = 1024;

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

bool SameFileUnchanged(const FileIdentity& a, const FileIdentity& b) {
    return SameFile(a, b) && a.size == b.size && a.modified == b.modified;
}

ReplaceResult Failed(ReplaceResult::Step step, const char* path, int error,
                     ReplaceResult::Writes writes = ReplaceResult::kNeither) {
    return {.code = ReplaceResult::kFailed,
            .step = step,
            .error = error,
            .writes = writes,
            .path = path};
}

// Drops the replace and passes its result on.
ReplaceResult Dropped(FileReplacement& file, ReplaceResult result) {
    const int error = errno;
    ReplaceDrop(file);
    errno = error;
    return result;
}

void Close(std::FILE*& stream) {
    if (stream != nullptr) {
        std::fclose(stream);
        stream = nullptr;
    }
}

// Finds the file at the end of the link chain, and the scratch file's place.
ReplaceResult Locate(FileReplacement& file, const char* folder, const char* name,
                     const char* scratch_name) {
    if (!OsJoinPath(file.link, folder, name)) {
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
    if (!OsJoinPath(file.scratch_path, file.folder.data(), scratch_name)) {
        return {.code = ReplaceResult::kFolderTooLong, .path = file.folder.data()};
    }
    return {};
}

// Opens the file to be replaced, waiting while another start replaces it.
std::FILE* OpenTarget(FileReplacement& file, const char* mode) {
    for (;;) {
        std::FILE* opened = std::fopen(file.target.data(), mode);
        if (opened != nullptr || !OsOpenBlockedForAMoment(file.target.data(), errno) ||
            ++file.waits >= kInUseWaits) {
            return opened;
        }
        OsSleep(kInUseWaitMilliseconds);
    }
}

// How many of `bytes` the file holds next, reading on; all of them or fewer.
// A failed read says they differ; a write then reports what is wrong.
std::size_t Compare(FileReplacement& file, std::string_view bytes) {
    std::array<char, kChunk> held;
    std::size_t same = 0;
    while (same < bytes.size()) {
        const std::size_t wanted = std::min(held.size(), bytes.size() - same);
        const std::size_t count = std::fread(held.data(), 1, wanted, file.held);
        const auto differing = std::mismatch(held.data(), held.data() + count, bytes.data() + same);
        same += static_cast<std::size_t>(differing.first - held.data());
        if (differing.first != held.data() + count || count != wanted) {
            break;
        }
    }
    return same;
}

// Copies the first `file.matched` bytes of the file into the scratch file.
ReplaceResult CopyMatched(FileReplacement& file) {
    std::array<char, kChunk> chunk;
    std::uint64_t left = file.matched;
    if (left > 0 && std::fseek(file.held, 0, SEEK_SET) != 0) {
        return Failed(ReplaceResult::kRead, file.target.data(), errno);
    }
    while (left > 0) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
        if (std::fread(chunk.data(), 1, wanted, file.held) != wanted) {
            // The file was cut meanwhile: what was read is no longer there.
            return Failed(ReplaceResult::kRead, file.target.data(),
                          std::ferror(file.held) != 0 ? errno : EIO);
        }
        if (std::fwrite(chunk.data(), 1, wanted, file.scratch.stream) != wanted) {
            return Failed(ReplaceResult::kWrite, file.scratch_path.data(), errno);
        }
        left -= wanted;
    }
    return {};
}

// The new content differs from the file: makes the scratch file afresh, with
// the file's permissions and the bytes that were the same. The file is opened
// for update too, after the scratch file is made: a file the user may not
// write is not replaced, and a folder that may not be written is what to
// mend then, whatever the file's own mode.
ReplaceResult StartScratchFile(FileReplacement& file) {
    file.differs = true;
    const ScratchCreation creation = OsCreateScratchFile(file.scratch_path.data(), file.scratch);
    if (creation == ScratchCreation::kInUse) {
        return {.code = ReplaceResult::kScratchInUse, .path = file.scratch_path.data()};
    }
    // Only a refused creation says so of the folder: a scratch file that is a
    // folder of its own cannot be removed either (on Windows with the same
    // error), and moving the program would not help.
    if (creation == ScratchCreation::kRemoveFailed) {
        return Failed(ReplaceResult::kRemove, file.scratch_path.data(), errno);
    }
    if (creation != ScratchCreation::kCreated) {
        return Failed(ReplaceResult::kCreate, file.scratch_path.data(), errno,
                      ReplaceResult::kTheFolder);
    }
    // It was read, so what a refusal refused is the write.
    std::FILE* writable = OpenTarget(file, "rb+");
    if (writable == nullptr) {
        return Failed(ReplaceResult::kOpen, file.target.data(), errno, ReplaceResult::kTheFile);
    }
    const bool kept = OsKeepFileAttributes(writable, file.scratch.stream);
    const int error = errno;
    std::fclose(writable);
    if (!kept) {
        return Failed(ReplaceResult::kSetPermissions, file.scratch_path.data(), error);
    }
    if (file.held == nullptr) {
        return {};
    }
    const ReplaceResult copied = CopyMatched(file);
    Close(file.held);
    return copied;
}

// The rename failed: perhaps only the flush of the folder after it.
ReplaceResult FailedRename(FileReplacement& file, int error) {
    FileIdentity now;
    if (OsIdentifyPath(file.target.data(), now) && SameFile(now, file.scratch.identity)) {
        OsReleaseScratchFile(file.scratch);
        return {.code = ReplaceResult::kFolderNotFlushed, .error = error};
    }
    if (error == ENOENT) {
        // The scratch file was taken away under us, by a start that took it
        // for stale.
        return Dropped(file, {.code = ReplaceResult::kChanged, .path = file.target.data()});
    }
    return Dropped(file, Failed(ReplaceResult::kReplace, file.target.data(), error));
}

// Renames the complete scratch file over the file, provided the file is still
// the one that was read: an editor that saved it meanwhile keeps its save.
ReplaceResult Rename(FileReplacement& file) {
    for (;;) {
        FileIdentity now{};
        if (!OsIdentifyPath(file.target.data(), now) || !SameFileUnchanged(now, file.read)) {
            return Dropped(file, {.code = ReplaceResult::kChanged, .path = file.target.data()});
        }
        if (OsReplaceFile(file.scratch_path.data(), file.target.data())) {
            OsReleaseScratchFile(file.scratch);
            return {};
        }
        // Another start, or the library in it, may read the file for a
        // moment, which on Windows keeps it from being replaced.
        const int error = OsLastFileError();
        if (!OsReplaceBlockedByAnOpenFile(error) || ++file.waits == kInUseWaits) {
            return FailedRename(file, error);
        }
        OsSleep(kInUseWaitMilliseconds);
    }
}

}  // namespace

ReplaceResult ReplaceOpen(FileReplacement& file, const char* folder, const char* name,
                          const char* scratch_name) {
    for (PathText* path : {&file.target, &file.folder, &file.link, &file.scratch_path}) {
        (*path)[0] = '\0';
    }
    file.current = nullptr;
    file.held = nullptr;
    file.scratch = {};
    file.read = {};
    file.matched = 0;
    file.differs = false;
    file.waits = 0;
    if (const ReplaceResult located = Locate(file, folder, name, scratch_name);
        located.code != ReplaceResult::kDone) {
        return located;
    }
    file.current = OpenTarget(file, "rb");
    if (file.current == nullptr) {
        return Failed(ReplaceResult::kOpen, file.target.data(), errno);
    }
    // A folder opens too, on POSIX: its first read fails.
    if (const int first = std::fgetc(file.current); first != EOF) {
        std::ungetc(first, file.current);
    } else if (std::ferror(file.current) != 0) {
        return Dropped(file, Failed(ReplaceResult::kOpen, file.target.data(), errno));
    }
    if (!OsIdentifyFile(file.current, file.read)) {
        return Dropped(file, Failed(ReplaceResult::kRead, file.target.data(), errno));
    }
    // Both only read, so a file that may be read but not written is no
    // failure while its bytes stay the same.
    file.held = std::fopen(file.target.data(), "rb");
    file.differs = file.held == nullptr;
    return {};
}

ReplaceResult ReplaceWrite(FileReplacement& file, std::string_view bytes) {
    if (!file.differs) {
        const std::size_t same = Compare(file, bytes);
        file.matched += same;
        bytes.remove_prefix(same);
        if (bytes.empty()) {
            return {};
        }
    }
    if (file.scratch.stream == nullptr) {
        if (const ReplaceResult started = StartScratchFile(file);
            started.code != ReplaceResult::kDone) {
            return Dropped(file, started);
        }
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.scratch.stream) != bytes.size()) {
        return Dropped(file, Failed(ReplaceResult::kWrite, file.scratch_path.data(), errno));
    }
    return {};
}

ReplaceResult ReplaceCommit(FileReplacement& file) {
    // Bytes beyond the new content are bytes the replace would drop.
    if (!file.differs && std::fgetc(file.held) == EOF && std::ferror(file.held) == 0) {
        ReplaceDrop(file);
        return {};
    }
    if (file.scratch.stream == nullptr) {
        if (const ReplaceResult started = StartScratchFile(file);
            started.code != ReplaceResult::kDone) {
            return Dropped(file, started);
        }
    }
    if (std::fflush(file.scratch.stream) != 0) {
        return Dropped(file, Failed(ReplaceResult::kWrite, file.scratch_path.data(), errno));
    }
    if (!OsFlushToDisk(file.scratch.stream)) {
        return Dropped(file, Failed(ReplaceResult::kFlush, file.scratch_path.data(), errno));
    }
    const int closed = std::fclose(file.scratch.stream);
    file.scratch.stream = nullptr;
    if (closed != 0) {
        return Dropped(file, Failed(ReplaceResult::kWrite, file.scratch_path.data(), errno));
    }
    // Closed before the rename: on Windows an open file cannot be replaced.
    Close(file.current);
    Close(file.held);
    return Rename(file);
}

void ReplaceDrop(FileReplacement& file) {
    Close(file.current);
    Close(file.held);
    if (file.scratch.stream != nullptr || file.scratch.hold != -1) {
        OsDiscardScratchFile(file.scratch_path.data(), file.scratch);
    }
}
