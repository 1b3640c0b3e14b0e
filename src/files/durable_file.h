// Replacing a file with new content, safely: only when the content differs,
// and only while nobody changed the file meanwhile. The new content is built
// in a scratch file beside the file it replaces (the one a symbolic link
// points to), gets the old file's permissions, reaches stable storage and only
// then takes its place by a rename. When anything fails, the file keeps its
// bytes, no scratch file remains, and the result says what happened, for the
// caller to tell.
#pragma once

#include <cstdio>
#include <string_view>

#include "platform/os_system.h"

// Where a producer writes the new content, as text (every LF goes out as CR
// LF): into the scratch file, or, while the replace checks whether the file
// holds that content already, against the file's bytes.
struct ReplacementOutput {
    std::FILE* file = nullptr;
    bool compare = false;
    bool differs = false;  // compare: the file's bytes differ or ended first
};

// False (errno set) when the write, or the read it is compared with, failed.
bool WriteReplacementText(ReplacementOutput& output, std::string_view text);

// What a producer reports.
struct Production {
    enum Status { kComplete, kReadFailed, kWriteFailed } status = kComplete;
    int error = 0;                 // errno of the failed read or write
    const char* remark = nullptr;  // due once the new content stands complete
};

// Writes the new content to `output`, given the file's present content to
// read from `current` (a binary stream at its start). Called once to compare,
// and again for each try that writes.
struct ContentProducer {
    Production (*produce)(const void* context, std::FILE* current, ReplacementOutput& output);
    const void* context = nullptr;
};

// A file that keeps changing is made again from its new content this many
// times before the replace gives up.
inline constexpr int kMostRewrites = 3;

// What a replace did.
struct ReplaceResult {
    enum Code {
        kReplaced,          // the file holds the new content (or held it already)
        kFolderNotFlushed,  // replaced, but the rename may not last: `error`
        kFolderTooLong,     // a path in the folder `path` does not fit OsJoinPath
        kFailed,            // `step` on `path` failed with `error`
        kTooManyLinks,      // more than kMaxLinksFollowed links lead on from `path`
        kNotRegularFile,    // `path` names no regular file
        kKeptChanging,      // `path` changed at each of kMostRewrites tries
        kScratchInUse,      // another start kept the scratch file `path` in use
    } code = kReplaced;
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
    // The producer's remark, due once its content stood complete.
    const char* remark = nullptr;
    PathText path{};
    PathText folder{};  // the replaced file's own folder, at the end of its links
};

// Replaces the file `name` in `folder` with what `producer` makes of it,
// built in the scratch file `scratch_name` beside it. A save made meanwhile
// is kept and the content is made again from it, up to kMostRewrites times;
// another start writing the same scratch file is waited for.
ReplaceResult ReplaceFileIfUnchanged(const char* folder, const char* name, const char* scratch_name,
                                     ContentProducer producer);
