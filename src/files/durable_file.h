// Replacing a file with new content, safely: only when the content differs,
// and only while nobody changed the file meanwhile. The new content is built
// in a scratch file beside the file it replaces (the one a symbolic link
// points to), gets the old file's permissions, reaches stable storage and only
// then takes its place by a rename. When anything fails, the file keeps its
// bytes, no scratch file remains, and the reason is reported on standard
// error.
#pragma once

#include <cstdio>
#include <string_view>

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
    const char* remark = nullptr;  // said once the new content stands complete
};

// Writes the new content to `output`, given the file's present content to
// read from `current` (a binary stream at its start). Called once to compare,
// and again for each try that writes.
struct ContentProducer {
    Production (*produce)(const void* context, std::FILE* current, ReplacementOutput& output);
    const void* context = nullptr;
};

// Replaces the file `name` in `folder` with what `producer` makes of it,
// built in the scratch file `scratch_name` beside it. A save made meanwhile
// is kept and the content is made again from it, up to three times; another
// start writing the same scratch file is waited for. True when the file holds
// the new content (or held it already); false after a failure, which is
// reported with the file's name ("tunnel.cfg was not rewritten: ...").
bool ReplaceFileIfUnchanged(const char* folder, const char* name, const char* scratch_name,
                            ContentProducer producer);
