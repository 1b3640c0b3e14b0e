// Replacing a file safely, with the writing kept by the caller: ReplaceOpen
// gives the file's present content to read; the caller writes the new
// content with ReplaceWrite, in pieces as it makes them; ReplaceCommit keeps
// the old file when the bytes are the same, or puts the new one in place.
// The new content is compared with the old as it comes, and is built, from
// its first differing byte on, in a scratch file beside the file it replaces
// (the one a symbolic link points to); it gets the old file's permissions,
// reaches stable storage and only then takes its place by a rename, provided
// nobody changed the file meanwhile. When anything fails, the file keeps its
// bytes, no scratch file remains, and the result says what happened, for the
// caller to tell and to decide whether to try again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/os_durable_file.h"
#include "platform/os_paths.h"

// What a step of a replace did.
struct ReplaceResult {
    enum Code {
        kDone,              // the step succeeded; after a commit, the file holds the new content
        kFolderNotFlushed,  // committed, but the rename may not last: `error`
        kFolderTooLong,     // a path in the folder `path` does not fit OsJoinPath
        kFailed,            // `step` on `path` failed with `error`
        kTooManyLinks,      // more than kMaxLinksFollowed links lead on from `path`
        kNotRegularFile,    // `path` names no regular file
        kChanged,           // `path` changed since it was opened: make the content again
        kScratchInUse,      // another start is writing the scratch file `path` now
    } code = kDone;
    enum Step {
        kFollowLink,
        kOpen,
        kRead,
        kCreate,
        kRemove,
        kSetPermissions,
        kWrite,
        kFlush,
        kReplace
    };
    Step step = kOpen;
    int error = 0;  // an errno value
    // What the failed step needed to write: the folder, to make the scratch
    // file in it, or the file itself. A refusal there is mended by moving the
    // program, or by making that one writable.
    enum Writes { kNeither, kTheFolder, kTheFile } writes = kNeither;
    const char* path = nullptr;  // within the FileReplacement
};

// One replace, from ReplaceOpen to its commit or drop. Every step that does
// not give kDone has dropped it already.
struct FileReplacement {
    // The file's present content, at its start, in binary mode: the caller's
    // to read, not to close.
    std::FILE* current = nullptr;
    // The paths are made empty by ReplaceOpen, not zero-filled here: four
    // of them filled at each start were most of the start's own cost.
    PathText target;  // the file at the end of the link chain
    PathText folder;  // the target's folder
    // The rest is the replace's own.
    PathText link;              // the folder joined with the name
    PathText scratch_path;      // beside the target, so the rename stays within one file system
    std::FILE* held = nullptr;  // the target again, compared with what is written
    OsScratchFile scratch{};
    FileIdentity read{};        // the target as it was opened
    std::uint64_t matched = 0;  // bytes written that the target holds too
    bool differs = false;       // a written byte differs: the scratch file is in use
    int waits = 0;              // for another process, a moment each
};

// Opens the file `name` in `folder`, to be replaced through the scratch file
// `scratch_name` beside it.
ReplaceResult ReplaceOpen(FileReplacement& replacement, const char* folder, const char* name,
                          const char* scratch_name);

// Writes the next bytes of the new content.
ReplaceResult ReplaceWrite(FileReplacement& replacement, std::string_view bytes);

// Ends the new content: keeps the file when it holds these bytes already,
// else puts the new file in its place, durably. kChanged when the file was
// changed (an editor's save) after it was opened: the save is kept.
ReplaceResult ReplaceCommit(FileReplacement& replacement);

// Lets the replace go, leaving the file as it was.
void ReplaceDrop(FileReplacement& replacement);
