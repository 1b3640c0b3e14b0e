// Preparing the tunnel library's configuration before it starts.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "platform/os_paths.h"
#include "text/text_stream.h"

// Rewrites tunnel.cfg in `program_dir` so that every line holding "(Home)"
// becomes the item "(Home){<program_dir>/Home}", adding the item when no line
// has it, through temp.cfg (see ReplaceOpen). When the bytes would not change,
// or anything fails, tunnel.cfg keeps its bytes; a failure is reported on
// standard error. False after a failure.
bool PrepareTunnelConfig(const char* program_dir);

// The rewrite itself, made a buffer at a time: the text of `config` with
// every line holding "(Home)" replaced by the Home item for `home_path`, and
// the item added at the end when no line had it, every LF as CR LF. Lines are
// read in pieces of at most 1023 characters, each piece a line of its own.
struct HomeRewrite {
    TextReader* config = nullptr;
    std::array<char, kPathCapacity + 16> item{};  // "\n(Home){<home_path>}\n"
    std::size_t item_size = 0;
    std::array<char, 1024> piece{};
    std::string_view pending;  // text read and not yet staged
    bool home_found = false;
    bool ended = false;
    bool holds_nul = false;  // up to which the library reads a line
};

void StartHomeRewrite(HomeRewrite& rewrite, TextReader& config, const char* home_path);

// Fills `out` (at least 2 bytes) with the next bytes of the rewritten text
// and returns how many: 0 once it is complete, or once a read failed
// (`config->failed`).
std::size_t NextRewrittenBytes(HomeRewrite& rewrite, std::span<char> out);

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
