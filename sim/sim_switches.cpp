// The switches read from the environment, and the call trace they enable.
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sim_internal.h"

namespace tunnel_sim {
namespace {

constexpr std::array<std::string_view, kOperationCount> kOperationNames = {
    "TunnelConfigGet",
    "TunnelStart",
    "TunnelStop",
    "TunnelVersionGet",
    "TunnelDomainSet",
    "TunnelDomainGet",
    "TunnelCommentSet",
    "TunnelCommentGet",
    "TunnelSet",
    "TunnelPeerInfoGet",
    "TunnelConnectAdd",
    "TunnelConnectDelete",
    "TunnelConnectQuery",
    "TunnelConnectLocalDelete",
    "TunnelConnectLocalQuery",
    "TunnelUserExtend",
    "TunnelPushGet",
    "TunnelSelfGet",
    "TunnelConnectEnum",
    "TunnelStatusGet",
};

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

template <typename Number>
bool ParseWhole(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc{} && stop == end;
}

std::string Warning(std::string_view variable, std::string_view entry, std::string_view why) {
    std::string line = "tunnel sim: ";
    line += variable;
    line += ": ignoring \"";
    line += entry;
    line += "\": ";
    line += why;
    line += '\n';
    return line;
}

struct SwitchStore {
    std::once_flag loaded;
    // Set once `switches` holds their final values: every call checks this
    // flag alone, as call_once costs a thread-local access each time.
    std::atomic<bool> ready{false};
    Switches switches;
};

SwitchStore& Store() {
    static SwitchStore store;
    return store;
}

void LoadFromEnvironment(Switches& switches) {
    std::vector<std::string> warnings;
    switches = SwitchesFromValues(std::getenv(kSimFaultsVariable), std::getenv(kSimTraceVariable),
                                  std::getenv(kSimLogThreadVariable), warnings);
    if (const char* crashes = std::getenv(kSimCrashVariable); crashes != nullptr) {
        ParseCrashes(crashes, switches, warnings);
    }
    if (const char* waits = std::getenv(kSimWaitVariable); waits != nullptr) {
        ParseWaits(waits, switches, warnings);
    }
    const char* any_address = std::getenv(kSimAnyAddressVariable);
    switches.any_address = any_address != nullptr && *any_address != '\0';
    const char* unended = std::getenv(kSimLogUnendedVariable);
    switches.heartbeat_unended = unended != nullptr && *unended != '\0';
    if (const char* fill = std::getenv(kSimConfigFillVariable); fill != nullptr) {
        switches.config_fill = *fill;
    }
    for (const std::string& warning : warnings) {
        std::fputs(warning.c_str(), stderr);
    }
}

}  // namespace

std::string_view OperationName(Operation operation) {
    return kOperationNames[static_cast<std::size_t>(operation)];
}

std::optional<Operation> FindOperation(std::string_view name) {
    for (std::size_t i = 0; i < kOperationNames.size(); ++i) {
        if (kOperationNames[i] == name) {
            return static_cast<Operation>(i);
        }
    }
    return std::nullopt;
}

// Takes the next comma-separated entry off `list`, trimmed. A trailing or
// doubled comma gives an empty one: a slip, not a fault to warn about.
std::string_view NextEntry(std::string_view& list) {
    const std::size_t comma = list.find(',');
    const std::string_view entry = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    return entry;
}

void ParseFaults(std::string_view list, Switches& switches, std::vector<std::string>& warnings) {
    while (!list.empty()) {
        const std::string_view entry = NextEntry(list);
        if (entry.empty()) {
            continue;
        }
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            warnings.push_back(Warning(kSimFaultsVariable, entry, "expected Name=code"));
            continue;
        }
        const auto operation = FindOperation(Trim(entry.substr(0, equals)));
        if (!operation) {
            warnings.push_back(Warning(kSimFaultsVariable, entry, "unknown operation"));
            continue;
        }
        int32_t code = 0;
        if (!ParseWhole(Trim(entry.substr(equals + 1)), code)) {
            warnings.push_back(
                Warning(kSimFaultsVariable, entry, "code is not a 32-bit decimal integer"));
            continue;
        }
        switches.faults[static_cast<std::size_t>(*operation)] = code;
    }
}

void ParseCrashes(std::string_view list, Switches& switches, std::vector<std::string>& warnings) {
    constexpr std::pair<std::string_view, Crash> kKinds[] = {{"segv", Crash::kSegv},
                                                             {"abort", Crash::kAbort},
                                                             {"thread", Crash::kThread},
                                                             {"logabort", Crash::kLogThreadAbort},
                                                             {"atexit", Crash::kAtExit}};
    while (!list.empty()) {
        const std::string_view entry = NextEntry(list);
        if (entry.empty()) {
            continue;
        }
        const std::size_t equals = entry.find('=');
        const auto operation = equals == std::string_view::npos
                                   ? std::nullopt
                                   : FindOperation(Trim(entry.substr(0, equals)));
        const std::string_view kind =
            equals == std::string_view::npos ? std::string_view{} : Trim(entry.substr(equals + 1));
        Crash crash = Crash::kNone;
        for (const auto& [name, value] : kKinds) {
            if (name == kind) {
                crash = value;
            }
        }
        if (!operation || crash == Crash::kNone) {
            warnings.push_back(Warning(kSimCrashVariable, entry,
                                       "expected Name=segv|abort|thread|logabort|atexit"));
            continue;
        }
        switches.crashes[static_cast<std::size_t>(*operation)] = crash;
    }
}

void ParseWaits(std::string_view list, Switches& switches, std::vector<std::string>& warnings) {
    while (!list.empty()) {
        const std::string_view entry = NextEntry(list);
        if (entry.empty()) {
            continue;
        }
        const auto operation = FindOperation(entry);
        if (!operation) {
            warnings.push_back(Warning(kSimWaitVariable, entry, "unknown operation"));
            continue;
        }
        switches.waits[static_cast<std::size_t>(*operation)] = true;
    }
}

Switches SwitchesFromValues(const char* faults, const char* trace, const char* log_thread,
                            std::vector<std::string>& warnings) {
    Switches switches;
    if (faults != nullptr) {
        ParseFaults(faults, switches, warnings);
    }
    if (trace != nullptr) {
        switches.trace_path = trace;
    }
    // An empty value reads as unset, as `VAR= program` is how one switches off.
    if (log_thread != nullptr && *log_thread != '\0') {
        uint32_t interval = 0;
        if (ParseWhole(std::string_view(log_thread), interval)) {
            switches.heartbeat_interval_us = interval;
        } else {
            warnings.push_back(
                Warning(kSimLogThreadVariable, log_thread, "expected a number of microseconds"));
        }
    }
    return switches;
}

const Switches& CurrentSwitches() {
    SwitchStore& store = Store();
    if (!store.ready.load(std::memory_order_acquire)) {
        std::call_once(store.loaded, [&] { LoadFromEnvironment(store.switches); });
        store.ready.store(true, std::memory_order_release);
    }
    return store.switches;
}

void ReplaceSwitches(Switches switches) {
    SwitchStore& store = Store();
    std::call_once(store.loaded, [] {});
    store.switches = std::move(switches);
    store.ready.store(true, std::memory_order_release);
}

std::string QuoteText(const char* text) {
    if (text == nullptr) {
        return "null";
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        switch (byte) {
            case '\\':
                quoted += "\\\\";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7f) {
                    quoted += "\\x";
                    quoted += kHex[byte >> 4];
                    quoted += kHex[byte & 0xf];
                } else {
                    quoted += static_cast<char>(byte);
                }
        }
    }
    quoted += '"';
    return quoted;
}

void AppendTraceArg(std::string& line, const char* text) {
    line += QuoteText(text);
}

void AppendTraceArg(std::string& line, int32_t value) {
    line += std::to_string(value);
}

void AppendTraceArg(std::string& line, TraceOut out) {
    line += out.pointer == nullptr ? "null" : "out";
}

void AppendTraceArg(std::string& line, const DataRecord* data) {
    if (data == nullptr) {
        line += "null";
        return;
    }
    line += "{size=";
    line += std::to_string(data->size);
    line += '}';
}

void AppendTraceArg(std::string& line, LogCallbackType callback) {
    line += callback == nullptr ? "null" : "callback";
}

std::string FormatTraceLine(std::string_view call, ResultCode result) {
    std::string line(call);
    line += " = ";
    line += std::to_string(result);
    line += '\n';
    return line;
}

void WriteTraceLine(const std::string& path, std::string_view line) {
    static std::mutex mutex;
    static FILE* file = nullptr;
    static std::optional<std::string> open_path;
    std::lock_guard lock(mutex);
    // Kept open between calls; reopened only when tests point it elsewhere.
    // A path that failed is not retried, so it warns once.
    if (open_path != path) {
        if (file != nullptr) {
            std::fclose(file);
        }
        file = std::fopen(path.c_str(), "ab");
        open_path = path;
        if (file == nullptr) {
            std::fprintf(stderr, "tunnel sim: %s: cannot open \"%s\" for appending\n",
                         kSimTraceVariable, path.c_str());
        }
    }
    if (file == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    // Flushed per line so the trace is complete however the process ends.
    std::fflush(file);
}

}  // namespace tunnel_sim
