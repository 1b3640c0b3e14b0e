// The stand-in library's parsers, formatters and switch store, kept apart
// from the operations so its tests can reach them directly: the environment
// is read once per process, so its switches cannot be varied from outside.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_switches.h"
#include "tunnel/tunnel_api.h"

namespace tunnel_sim {

// In the order of tunnel_api.h.
enum class Operation : int {
    kConfigGet,
    kStart,
    kStop,
    kVersionGet,
    kDomainSet,
    kDomainGet,
    kCommentSet,
    kCommentGet,
    kSet,
    kPeerInfoGet,
    kConnectAdd,
    kConnectDelete,
    kConnectQuery,
    kConnectLocalDelete,
    kConnectLocalQuery,
    kUserExtend,
    kPushGet,
    kSelfGet,
    kConnectEnum,
    kStatusGet,
};
inline constexpr int kOperationCount = 20;

std::string_view OperationName(Operation operation);
std::optional<Operation> FindOperation(std::string_view name);

// ---- Configuration text -------------------------------------------------

struct ConfigItem {
    std::string_view name;
    std::string_view value;
};

// The first "(Name){value}" item starting at or after `position`; on success
// `position` moves past it. The name is not empty and holds no parenthesis,
// brace or line break; the value runs to the first '}' and holds no line break.
std::optional<ConfigItem> FindItem(std::string_view text, std::size_t& position);

// Every item of `text`, whether concatenated or one per line.
std::vector<ConfigItem> ParseItems(std::string_view text);

// Value of the first item called `name`.
std::optional<std::string_view> FindItemValue(std::string_view text, std::string_view name);

// What TunnelConfigGet returns for a file holding `content`: the DevID item
// first, then the first item of each other line, in file order.
std::string ConfigTextFromFile(std::string_view content);

// "a.b.c.d:port" in canonical decimal: octets 0-255 and port 1-65535, no
// leading zeros, signs or spaces, so that equal endpoints are equal texts.
bool IsValidEndpoint(std::string_view text);

// True when `name` holds no '/' or '\\'.
bool IsBareFileName(std::string_view name);

// True for "/x", "\\x" and "C:...".
bool IsAbsolutePath(std::string_view path);

// `name` joined to the directory of the running executable, spelled as the
// program spells it.
bool ResolveBesideExecutable(const char* name, std::string& path);

// Reads the whole file as bytes. False when it is missing or unreadable.
bool ReadWholeFile(const std::string& path, std::string& content);

// ---- Switches -----------------------------------------------------------

enum class Crash { kNone, kSegv, kAbort, kThread, kLogThreadAbort, kAtExit };

struct Switches {
    std::array<std::optional<int32_t>, kOperationCount> faults{};
    std::array<Crash, kOperationCount> crashes{};
    std::array<bool, kOperationCount> waits{};      // the operation never returns
    std::string trace_path;                         // empty: no trace
    std::optional<uint32_t> heartbeat_interval_us;  // unset: no heartbeat thread
    bool any_address = false;                       // any text that fits is an endpoint
    char config_fill = '\0';                        // '\0': the text ends in a NUL
    bool heartbeat_unended = false;                 // heartbeats without a line break
};

// Fills `faults` from a "Name=code,Name=code" list; each malformed entry or
// unknown name adds one warning line (LF-terminated) and is skipped.
void ParseFaults(std::string_view list, Switches& switches, std::vector<std::string>& warnings);

// Fills `crashes` from a "Name=segv,Name=abort,Name=thread" list, warning as
// ParseFaults does.
void ParseCrashes(std::string_view list, Switches& switches, std::vector<std::string>& warnings);

// Fills `waits` from a "Name,Name" list, warning as ParseFaults does.
void ParseWaits(std::string_view list, Switches& switches, std::vector<std::string>& warnings);

// The switches for the given variable values (null: unset).
Switches SwitchesFromValues(const char* faults, const char* trace, const char* log_thread,
                            std::vector<std::string>& warnings);

// The process's switches, read from the environment at the first use.
const Switches& CurrentSwitches();

// Replaces the process's switches (the environment is then never read). For
// tests: call only while no other thread is inside the library.
void ReplaceSwitches(Switches switches);

// ---- Trace --------------------------------------------------------------

// `text` as a C string literal, or "null".
std::string QuoteText(const char* text);

// Marks an output buffer or record.
struct TraceOut {
    const void* pointer;
};

void AppendTraceArg(std::string& line, const char* text);
void AppendTraceArg(std::string& line, int32_t value);
void AppendTraceArg(std::string& line, TraceOut out);
void AppendTraceArg(std::string& line, const DataRecord* data);
void AppendTraceArg(std::string& line, LogCallbackType callback);

// "Name(arg, arg, ...)", taken before the call so inputs show as passed.
template <typename... Args>
std::string FormatTraceCall(Operation operation, const Args&... args) {
    std::string line(OperationName(operation));
    line += '(';
    bool first = true;
    [[maybe_unused]] auto append = [&](const auto& arg) {
        if (!first) {
            line += ", ";
        }
        first = false;
        AppendTraceArg(line, arg);
    };
    (append(args), ...);
    line += ')';
    return line;
}

// "<call> = <result>\n"
std::string FormatTraceLine(std::string_view call, ResultCode result);

// Appends `line` to the file at `path` and flushes it.
void WriteTraceLine(const std::string& path, std::string_view line);

// ---- Library state seen by tests -----------------------------------------

// Callers currently blocked in TunnelPushGet.
int PushWaiterCount();

}  // namespace tunnel_sim
