// The stand-in library's documented result codes and switches. The switches
// are environment variables read by the library alone, once, at its first call.
#pragma once

#include <cstdint>

enum SimResult : int32_t {
    kSimOk = 0,
    kSimNotStarted = -1,       // an operation other than TunnelConfigGet/TunnelStart before start
    kSimInvalidArgument = -2,  // null pointer, empty required text, malformed address
    kSimNotFound = -3,         // no such connection, peer or index
    kSimAlreadyExists = -4,    // connection tuple or client address already in the table
    kSimBufferTooSmall = -5,   // result does not fit the caller's capacity
    kSimTimeout = -6,          // TunnelPushGet: nothing queued within the wait
    kSimTableFull = -7,        // connection table holds kSimMaxConnections rows
    kSimAlreadyStarted = -8,   // TunnelStart while started
    kSimConfigFile = -9,       // configuration file missing or unreadable
};

inline constexpr int kSimMaxConnections = 64;
inline constexpr int kSimMaxPushQueue = 32;

// "TunnelStart=-9,TunnelVersionGet=-5": each named operation returns its code
// at every call, without doing its work.
inline constexpr const char* kSimFaultsVariable = "TUNNEL_SIM_FAULTS";
// A file path: every call is appended to it as one line, "Name(args) = result".
inline constexpr const char* kSimTraceVariable = "TUNNEL_SIM_TRACE";
// A pause in microseconds: while started, a background thread sends the log
// message "tunnel heartbeat N\n" after every pause (0: continuously).
inline constexpr const char* kSimLogThreadVariable = "TUNNEL_SIM_LOG_THREAD";
// Any value: every non-empty text that fits an address field counts as an
// endpoint, so addresses of any length up to that field's come back as given.
inline constexpr const char* kSimAnyAddressVariable = "TUNNEL_SIM_ANY_ADDRESS";
// A character: TunnelConfigGet fills the caller's whole buffer, its text then
// this character up to the capacity, with no terminating NUL.
inline constexpr const char* kSimConfigFillVariable = "TUNNEL_SIM_CONFIG_FILL";
// Any value: the heartbeat messages end without a line break.
inline constexpr const char* kSimLogUnendedVariable = "TUNNEL_SIM_LOG_UNENDED";
// "TunnelUserExtend=segv,TunnelStart=thread": each named operation crashes
// when called, before its work: "segv" writes through a null pointer,
// "abort" aborts, "thread" has a thread of the library's own write through a
// null pointer while the call waits for it, "logabort" has the heartbeat
// thread (kSimLogThreadVariable; without it a thread of its own) abort while
// the call waits for it; "atexit" returns as usual, and has the process write
// through a null pointer as it ends, once every call has returned.
inline constexpr const char* kSimCrashVariable = "TUNNEL_SIM_CRASH";
// "TunnelUserExtend,TunnelPushGet": each named operation waits without end
// when called, before its work, as a call that never returns.
inline constexpr const char* kSimWaitVariable = "TUNNEL_SIM_WAIT";
