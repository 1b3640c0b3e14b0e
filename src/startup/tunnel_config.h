// Preparing the tunnel library's configuration before it starts.
#pragma once

#include <span>

// Rewrites tunnel.cfg in `program_dir` so that every line holding "(Home)"
// becomes the item "(Home){<program_dir>/Home}", adding the item when no line
// has it. The new file is built in temp.cfg and replaces tunnel.cfg only when
// completely written; otherwise tunnel.cfg keeps its bytes.
void PrepareTunnelConfig(const char* program_dir);

// Writes `device_id_text` into the value of the first "(DevID){...}" item of the
// NUL-terminated `config_text`, in place. Leaves the text unchanged when the
// identifier is empty, there is no such item or closing brace, or the result
// would not fit the buffer.
void SubstituteDeviceId(std::span<char> config_text, const char* device_id_text);
