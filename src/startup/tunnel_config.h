// Preparing the tunnel library's configuration before it starts.
#pragma once

#include <cstdio>
#include <span>

#include "files/durable_file.h"
#include "text/text_stream.h"

// Rewrites tunnel.cfg in `program_dir` so that every line holding "(Home)"
// becomes the item "(Home){<program_dir>/Home}", adding the item when no line
// has it, through temp.cfg (see ReplaceFileIfUnchanged). When the bytes would
// not change, or anything fails, tunnel.cfg keeps its bytes; a failure is
// reported on standard error. False after a failure.
bool PrepareTunnelConfig(const char* program_dir);

// The rewrite itself: copies the text of `config` to `temp` with every line
// holding "(Home)" replaced by the Home item for `home_path`, and the item
// added at the end when no line had it. Lines are read in pieces of at most
// 1023 characters, each piece a line of its own. Its remark: the text holds a
// NUL byte, up to which the library reads a line.
Production RewriteHomeItems(TextReader& config, std::FILE* temp, const char* home_path);

enum class DeviceIdSubstitution {
    kDone,
    kNotApplicable,  // empty identifier, or no "(DevID){...}" item: nothing to do
    kDoesNotFit,     // the text would exceed its buffer
    kChangesItems,   // the identifier holds '(', ')', '{' or '}'
};

// Writes `device_id_text` into the value of the first "(DevID){...}" item of the
// NUL-terminated `config_text`, in place. Leaves the text unchanged unless the
// result is kDone.
DeviceIdSubstitution SubstituteDeviceId(std::span<char> config_text, const char* device_id_text);
