// The twenty operations over one shared state: a started flag, the settings
// given after start, a fixed connection table and a bounded push queue.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "sim_internal.h"

namespace tunnel_sim {
namespace {

constexpr char kVersion[] = "1.0.0-sim";
constexpr char kLocalLoginAddr[] = "127.0.0.1:6000";
constexpr char kRemoteLoginAddr[] = "127.0.0.2:6000";
constexpr char kRemotePrivateAddr[] = "10.0.0.2:6000";
constexpr unsigned kFirstClientPort = 20000;
constexpr uint32_t kStatusStarted = 1;
constexpr int kStatusCountShift = 8;
// Every message fits: "connect deleted: ", a peer id and two addresses, each
// as long as its field allows (addresses of any form are taken on request).
constexpr std::size_t kPushMessageCapacity = std::string_view("connect deleted: ").size() +
                                             (kPeerIdCapacity - 1) +
                                             2 * (1 + (kAddressCapacity - 1)) + 1;

// A row of the connection table is kept in the form the callers read it:
// type and encrypt hold the bits of the signed values given.
using Connection = ConnectRecord;

struct State {
    std::mutex mutex;
    std::condition_variable push_ready;      // a message was queued, or the tunnel stopped
    std::condition_variable heartbeat_wake;  // the tunnel stopped, or the thread is to abort
    bool started = false;
    // Bumped by every start and stop, so a waiter can tell its tunnel is gone
    // even if another start followed.
    uint64_t generation = 0;
    LogCallbackType callback = nullptr;
    std::thread heartbeat;
    bool heartbeat_aborts = false;  // the heartbeat thread aborts when it wakes
    std::array<char, kSelfIdCapacity> self_id{};
    std::array<char, kDomainCapacity> domain{};
    std::array<char, kCommentInCapacity> comment{};
    std::array<char, kPasscodeCapacity> passcode{};
    std::array<Connection, kSimMaxConnections> connections{};
    int connection_count = 0;
    std::array<std::array<char, kPushMessageCapacity>, kSimMaxPushQueue> queue{};
    int queue_head = 0;
    int queue_count = 0;
    int push_waiters = 0;
};

// Never destroyed: a tunnel left running at exit must not take a joinable
// thread through a static destructor.
State& TheState() {
    static State* state = new State;
    return *state;
}

// The text of `text` when it fits `capacity` with its terminator. Bounded, so
// an unterminated buffer is refused rather than overread.
bool TextArg(const char* text, std::size_t capacity, std::string_view& value) {
    const std::size_t length = strnlen(text, capacity);
    if (length >= capacity) {
        return false;
    }
    value = std::string_view(text, length);
    return true;
}

bool PeerArg(const char* peer_id, std::string_view& value) {
    return TextArg(peer_id, kPeerIdCapacity, value) && !value.empty();
}

bool IsEndpoint(std::string_view text) {
    return CurrentSwitches().any_address ? !text.empty() : IsValidEndpoint(text);
}

bool EndpointArg(const char* endpoint, std::string_view& value) {
    return TextArg(endpoint, kAddressCapacity, value) && IsEndpoint(value);
}

// Callers have checked that `text` fits.
template <std::size_t N>
void Store(std::array<char, N>& field, std::string_view text) {
    field.fill('\0');
    std::memcpy(field.data(), text.data(), text.size());
}

void WriteText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

std::string_view View(const char* text) {
    return text;
}

// A DataRecord's `size` is its capacity on the way in and the length on the
// way out.
bool WriteData(DataRecord* record, std::string_view text) {
    const std::size_t capacity = std::min<std::size_t>(record->size, kDataCapacity);
    if (text.size() + 1 > capacity) {
        return false;
    }
    std::memset(record->data.data(), 0, capacity);
    std::memcpy(record->data.data(), text.data(), text.size());
    record->size = static_cast<uint32_t>(text.size());
    return true;
}

int FindTuple(const State& state, std::string_view peer_id, int32_t type, int32_t encrypt,
              std::string_view listen_addr) {
    for (int i = 0; i < state.connection_count; ++i) {
        const Connection& row = state.connections[i];
        if (View(row.peer_id.data()) == peer_id && row.type == static_cast<uint32_t>(type) &&
            row.encrypt == static_cast<uint32_t>(encrypt) &&
            View(row.listen_addr.data()) == listen_addr) {
            return i;
        }
    }
    return -1;
}

int FindClient(const State& state, std::string_view client_addr) {
    for (int i = 0; i < state.connection_count; ++i) {
        if (View(state.connections[i].client_addr.data()) == client_addr) {
            return i;
        }
    }
    return -1;
}

void QueuePush(State& state, std::string_view verb, const Connection& row) {
    if (state.queue_count == kSimMaxPushQueue) {
        state.queue_head = (state.queue_head + 1) % kSimMaxPushQueue;
        --state.queue_count;
    }
    auto& slot = state.queue[(state.queue_head + state.queue_count) % kSimMaxPushQueue];
    char* end = slot.data();
    const auto append = [&](std::string_view part) {
        std::memcpy(end, part.data(), part.size());
        end += part.size();
    };
    append("connect ");
    append(verb);
    append(": ");
    append(View(row.peer_id.data()));
    append(" ");
    append(View(row.listen_addr.data()));
    append(" ");
    append(View(row.client_addr.data()));
    *end = '\0';
    ++state.queue_count;
    // Waiters count themselves under the lock this caller holds.
    if (state.push_waiters > 0) {
        state.push_ready.notify_all();
    }
}

void RemoveConnection(State& state, int index) {
    QueuePush(state, "deleted", state.connections[index]);
    std::move(state.connections.begin() + index + 1,
              state.connections.begin() + state.connection_count,
              state.connections.begin() + index);
    --state.connection_count;
    state.connections[state.connection_count] = Connection{};
}

bool EnsureDirectory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directory(path, error);
    return std::filesystem::is_directory(path, error);
}

void HeartbeatLoop(uint64_t generation, uint32_t interval_us, bool unended,
                   LogCallbackType callback) {
    State& state = TheState();
    for (unsigned long long n = 1;; ++n) {
        {
            std::unique_lock lock(state.mutex);
            const auto stopped = [&] { return state.generation != generation; };
            if (interval_us > 0) {
                state.heartbeat_wake.wait_for(lock, std::chrono::microseconds(interval_us),
                                              [&] { return stopped() || state.heartbeat_aborts; });
            }
            if (state.heartbeat_aborts) {
                std::abort();
            }
            if (stopped()) {
                return;
            }
        }
        if (interval_us == 0) {
            std::this_thread::yield();
        }
        // Outside the lock: the callback may call back into the library.
        char message[48];
        std::snprintf(message, sizeof message, "tunnel heartbeat %llu%s", n, unended ? "" : "\n");
        callback(0, message);
    }
}

ResultCode ConfigGet(const char* file_name, char* config_text, int32_t capacity) {
    if (file_name == nullptr || config_text == nullptr || capacity <= 0) {
        return kSimInvalidArgument;
    }
    std::string path = file_name;
    if (IsBareFileName(path) && !ResolveBesideExecutable(file_name, path)) {
        return kSimConfigFile;
    }
    std::string content;
    if (!ReadWholeFile(path, content)) {
        return kSimConfigFile;
    }
    const std::string text = ConfigTextFromFile(content);
    if (text.size() + 1 > static_cast<std::size_t>(capacity)) {
        return kSimBufferTooSmall;
    }
    if (const char fill = CurrentSwitches().config_fill; fill != '\0') {
        text.copy(config_text, text.size());
        std::memset(config_text + text.size(), fill,
                    static_cast<std::size_t>(capacity) - text.size());
        return kSimOk;
    }
    WriteText(config_text, text);
    return kSimOk;
}

ResultCode Start(const char* file_name, const char* config_text, LogCallbackType callback) {
    State& state = TheState();
    std::unique_lock lock(state.mutex);
    if (state.started) {
        return kSimAlreadyStarted;
    }
    if (file_name == nullptr || config_text == nullptr) {
        return kSimInvalidArgument;
    }
    const auto dev_id = FindItemValue(config_text, "DevID");
    if (!dev_id || dev_id->empty() || dev_id->size() >= kSelfIdCapacity) {
        return kSimInvalidArgument;
    }
    const auto home = FindItemValue(config_text, "Home");
    if (!home || home->empty()) {
        return kSimInvalidArgument;
    }
    std::string home_path(*home);
    if (!IsAbsolutePath(home_path) && !ResolveBesideExecutable(home_path.c_str(), home_path)) {
        return kSimConfigFile;
    }
    if (!EnsureDirectory(home_path)) {
        return kSimConfigFile;
    }
    Store(state.self_id, *dev_id);
    state.callback = callback;
    state.started = true;
    const uint64_t generation = ++state.generation;
    lock.unlock();

    // Reported before the heartbeat starts, so it is always the first message.
    if (callback != nullptr) {
        const std::string message = "tunnel started: " + std::string(*dev_id) + "\n";
        callback(0, message.c_str());
    }
    const auto interval = CurrentSwitches().heartbeat_interval_us;
    const bool unended = CurrentSwitches().heartbeat_unended;
    if (callback == nullptr || !interval) {
        return kSimOk;
    }
    lock.lock();
    // A stop from another thread may have slipped in while the lock was free.
    if (state.started && state.generation == generation) {
        state.heartbeat = std::thread(HeartbeatLoop, generation, *interval, unended, callback);
    }
    return kSimOk;
}

ResultCode Stop() {
    State& state = TheState();
    std::thread heartbeat;
    {
        std::lock_guard lock(state.mutex);
        if (!state.started) {
            return kSimNotStarted;
        }
        state.started = false;
        ++state.generation;
        heartbeat = std::move(state.heartbeat);
        state.callback = nullptr;
        state.self_id.fill('\0');
        state.domain.fill('\0');
        state.comment.fill('\0');
        state.passcode.fill('\0');
        state.connections.fill(Connection{});
        state.connection_count = 0;
        state.queue_head = 0;
        state.queue_count = 0;
        state.push_ready.notify_all();
        state.heartbeat_wake.notify_all();
    }
    if (heartbeat.joinable()) {
        // A stop from inside a heartbeat callback cannot wait for itself.
        if (heartbeat.get_id() == std::this_thread::get_id()) {
            heartbeat.detach();
        } else {
            heartbeat.join();
        }
    }
    return kSimOk;
}

template <std::size_t N>
ResultCode SetText(std::array<char, N>& field, const char* text) {
    std::string_view value;
    if (text == nullptr || !TextArg(text, N, value)) {
        return kSimInvalidArgument;
    }
    Store(field, value);
    return kSimOk;
}

ResultCode GetText(const char* value, char* out) {
    if (out == nullptr) {
        return kSimInvalidArgument;
    }
    WriteText(out, value);
    return kSimOk;
}

ResultCode PeerInfoGet(State& state, const char* peer_id, PeerInfoRecord* info) {
    std::string_view peer;
    if (peer_id == nullptr || info == nullptr || !PeerArg(peer_id, peer)) {
        return kSimInvalidArgument;
    }
    PeerInfoRecord record;
    std::memset(&record, 0, sizeof record);
    Store(record.peer_id, peer);
    Store(record.local_login_addr, kLocalLoginAddr);
    if (peer == View(state.self_id.data())) {
        record.type = 0;
    } else {
        const auto end = state.connections.begin() + state.connection_count;
        const auto row = std::find_if(state.connections.begin(), end, [&](const Connection& c) {
            return View(c.peer_id.data()) == peer;
        });
        if (row == end) {
            return kSimNotFound;
        }
        record.type = 1;
        Store(record.remote_login_addr, kRemoteLoginAddr);
        record.local_tunnel_addr = row->client_addr;
        record.remote_tunnel_addr = row->listen_addr;
        Store(record.remote_private_addr, kRemotePrivateAddr);
    }
    *info = record;
    return kSimOk;
}

ResultCode ConnectAdd(State& state, const char* leading_text, const char* peer_id, int32_t type,
                      int32_t encrypt, const char* listen_addr, const char* client_addr,
                      char* local_client_addr) {
    std::string_view peer;
    std::string_view listen;
    std::string_view client;
    if (leading_text == nullptr || peer_id == nullptr || listen_addr == nullptr ||
        client_addr == nullptr || local_client_addr == nullptr || !PeerArg(peer_id, peer) ||
        !EndpointArg(listen_addr, listen) ||
        (*client_addr != '\0' && !EndpointArg(client_addr, client))) {
        return kSimInvalidArgument;
    }
    if (FindTuple(state, peer, type, encrypt, listen) >= 0 ||
        (!client.empty() && FindClient(state, client) >= 0)) {
        return kSimAlreadyExists;
    }
    if (state.connection_count == kSimMaxConnections) {
        return kSimTableFull;
    }
    // Made in place: the row past the last one is not yet counted, so the
    // searches below do not see it.
    Connection& row = state.connections[state.connection_count];
    row = Connection{};
    Store(row.peer_id, peer);
    row.type = static_cast<uint32_t>(type);
    row.encrypt = static_cast<uint32_t>(encrypt);
    Store(row.listen_addr, listen);
    if (!client.empty()) {
        Store(row.client_addr, client);
    } else {
        // The table is far smaller than the port range, so a free port exists.
        for (unsigned port = kFirstClientPort;; ++port) {
            std::snprintf(row.client_addr.data(), row.client_addr.size(), "127.0.0.1:%u", port);
            if (FindClient(state, row.client_addr.data()) < 0) {
                break;
            }
        }
    }
    ++state.connection_count;
    WriteText(local_client_addr, row.client_addr.data());
    QueuePush(state, "added", row);
    return kSimOk;
}

// Only valid endpoints are stored, so one that a lookup finds is valid: the
// lookups below check an endpoint's form only when they find nothing, to tell
// a malformed argument (-2) from one that is not there (-3).
ResultCode Missing(bool endpoints_valid) {
    return endpoints_valid ? kSimNotFound : kSimInvalidArgument;
}

ResultCode ConnectDelete(State& state, const char* leading_text, const char* peer_id, int32_t type,
                         int32_t encrypt, const char* listen_addr, const char* client_addr) {
    std::string_view peer;
    std::string_view listen;
    std::string_view client;
    if (leading_text == nullptr || peer_id == nullptr || listen_addr == nullptr ||
        client_addr == nullptr || !PeerArg(peer_id, peer) ||
        !TextArg(listen_addr, kAddressCapacity, listen) ||
        !TextArg(client_addr, kAddressCapacity, client)) {
        return kSimInvalidArgument;
    }
    const int index = FindTuple(state, peer, type, encrypt, listen);
    if (index < 0 ||
        (!client.empty() && View(state.connections[index].client_addr.data()) != client)) {
        return Missing(IsEndpoint(listen) && (client.empty() || IsEndpoint(client)));
    }
    RemoveConnection(state, index);
    return kSimOk;
}

ResultCode ConnectQuery(State& state, const char* peer_id, int32_t type, int32_t encrypt,
                        const char* listen_addr, char* client_addr) {
    std::string_view peer;
    std::string_view listen;
    if (peer_id == nullptr || listen_addr == nullptr || client_addr == nullptr ||
        !PeerArg(peer_id, peer) || !TextArg(listen_addr, kAddressCapacity, listen)) {
        return kSimInvalidArgument;
    }
    const int index = FindTuple(state, peer, type, encrypt, listen);
    if (index < 0) {
        return Missing(IsEndpoint(listen));
    }
    WriteText(client_addr, state.connections[index].client_addr.data());
    return kSimOk;
}

ResultCode ConnectLocalDelete(State& state, const char* leading_text, const char* client_addr) {
    std::string_view client;
    if (leading_text == nullptr || client_addr == nullptr ||
        !TextArg(client_addr, kAddressCapacity, client)) {
        return kSimInvalidArgument;
    }
    const int index = FindClient(state, client);
    if (index < 0) {
        return Missing(IsEndpoint(client));
    }
    RemoveConnection(state, index);
    return kSimOk;
}

ResultCode ConnectLocalQuery(State& state, const char* client_addr, ConnectRecord* record) {
    std::string_view client;
    if (client_addr == nullptr || record == nullptr ||
        !TextArg(client_addr, kAddressCapacity, client)) {
        return kSimInvalidArgument;
    }
    const int index = FindClient(state, client);
    if (index < 0) {
        return Missing(IsEndpoint(client));
    }
    *record = state.connections[index];
    return kSimOk;
}

ResultCode ConnectEnum(State& state, int32_t index, ConnectRecord* record) {
    if (record == nullptr) {
        return kSimInvalidArgument;
    }
    if (index < 0 || index >= state.connection_count) {
        return kSimNotFound;
    }
    *record = state.connections[index];
    return kSimOk;
}

ResultCode UserExtend(const char* request, DataRecord* reply) {
    std::string_view text;
    if (request == nullptr || reply == nullptr || !TextArg(request, kRequestCapacity, text)) {
        return kSimInvalidArgument;
    }
    return WriteData(reply, "echo: " + std::string(text)) ? kSimOk : kSimBufferTooSmall;
}

ResultCode PushGet(DataRecord* data, int32_t timeout_ms) {
    State& state = TheState();
    std::unique_lock lock(state.mutex);
    if (!state.started) {
        return kSimNotStarted;
    }
    if (data == nullptr) {
        return kSimInvalidArgument;
    }
    if (state.queue_count == 0) {
        const uint64_t generation = state.generation;
        ++state.push_waiters;
        state.push_ready.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)), [&] {
            return state.queue_count > 0 || state.generation != generation;
        });
        --state.push_waiters;
        if (state.generation != generation) {
            return kSimNotStarted;
        }
        if (state.queue_count == 0) {
            return kSimTimeout;
        }
    }
    // Too long for this caller: it stays queued for one with more room.
    if (!WriteData(data, state.queue[state.queue_head].data())) {
        return kSimBufferTooSmall;
    }
    state.queue_head = (state.queue_head + 1) % kSimMaxPushQueue;
    --state.queue_count;
    return kSimOk;
}

ResultCode Set(State& state, const char* passcode, const char* comment) {
    std::string_view code;
    std::string_view text;
    // Both or neither: a half-applied set would be hard to see.
    if (passcode == nullptr || comment == nullptr || !TextArg(passcode, kPasscodeCapacity, code) ||
        !TextArg(comment, kCommentInCapacity, text)) {
        return kSimInvalidArgument;
    }
    Store(state.passcode, code);
    Store(state.comment, text);
    return kSimOk;
}

ResultCode StatusGet(const State& state, uint32_t* status) {
    if (status == nullptr) {
        return kSimInvalidArgument;
    }
    *status = kStatusStarted | (static_cast<uint32_t>(state.connection_count) << kStatusCountShift);
    return kSimOk;
}

// A crash, not a report of undefined behaviour, under the sanitizers too (the
// spelling both GCC and clang take).
__attribute__((no_sanitize("undefined"))) void WriteThroughNull() {
    // Read back, so the compiler cannot see it is null and trap instead.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

void CrashAsAsked(Crash crash) {
    switch (crash) {
        case Crash::kNone:
            return;
        case Crash::kSegv:
            WriteThroughNull();
            return;
        case Crash::kAbort:
            std::abort();
        case Crash::kThread:
            std::thread(WriteThroughNull).join();
            return;
        case Crash::kLogThreadAbort: {
            State& state = TheState();
            std::unique_lock lock(state.mutex);
            if (!state.heartbeat.joinable()) {
                lock.unlock();
                std::thread(std::abort).join();
                return;
            }
            state.heartbeat_aborts = true;
            state.heartbeat_wake.notify_all();
            // Until the abort ends the process.
            state.heartbeat_wake.wait(lock, [] { return false; });
            return;
        }
        case Crash::kAtExit:
            std::atexit(WriteThroughNull);
            return;
    }
}

// A call that never returns, for as long as the process lives.
void WaitWithoutEnd() {
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock lock(mutex);
    never.wait(lock, [] { return false; });
}

// Traces the call and applies its fault, if any, around `work`.
template <typename Work, typename... Args>
ResultCode Call(Operation operation, Work&& work, const Args&... args) {
    const Switches& switches = CurrentSwitches();
    CrashAsAsked(switches.crashes[static_cast<std::size_t>(operation)]);
    if (switches.waits[static_cast<std::size_t>(operation)]) {
        WaitWithoutEnd();
    }
    const bool tracing = !switches.trace_path.empty();
    std::string call;
    if (tracing) {
        call = FormatTraceCall(operation, args...);
    }
    const auto& fault = switches.faults[static_cast<std::size_t>(operation)];
    const ResultCode result = fault ? *fault : work();
    if (tracing) {
        WriteTraceLine(switches.trace_path, FormatTraceLine(call, result));
    }
    return result;
}

// As Call, for the operations that need a started tunnel: `work` gets the
// state, under its lock.
template <typename Work, typename... Args>
ResultCode CallStarted(Operation operation, Work&& work, const Args&... args) {
    return Call(
        operation,
        [&] {
            State& state = TheState();
            std::lock_guard lock(state.mutex);
            return state.started ? work(state) : ResultCode{kSimNotStarted};
        },
        args...);
}

}  // namespace

int PushWaiterCount() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    return state.push_waiters;
}

}  // namespace tunnel_sim

using namespace tunnel_sim;

TUNNEL_API ResultCode TUNNEL_CALL TunnelConfigGet(const char* file_name, char* config_text,
                                                  int32_t capacity) {
    return Call(
        Operation::kConfigGet, [&] { return ConfigGet(file_name, config_text, capacity); },
        file_name, TraceOut{config_text}, capacity);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelStart(const char* file_name, const char* config_text,
                                              int32_t reserved, LogCallbackType log_callback) {
    return Call(
        Operation::kStart, [&] { return Start(file_name, config_text, log_callback); }, file_name,
        config_text, reserved, log_callback);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelStop() {
    return Call(Operation::kStop, [] { return Stop(); });
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelVersionGet(char* version) {
    return CallStarted(
        Operation::kVersionGet, [&](State&) { return GetText(kVersion, version); },
        TraceOut{version});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelDomainSet(const char* domain) {
    return CallStarted(
        Operation::kDomainSet, [&](State& state) { return SetText(state.domain, domain); }, domain);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelDomainGet(char* domain) {
    return CallStarted(
        Operation::kDomainGet, [&](State& state) { return GetText(state.domain.data(), domain); },
        TraceOut{domain});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelCommentSet(const char* comment) {
    return CallStarted(
        Operation::kCommentSet, [&](State& state) { return SetText(state.comment, comment); },
        comment);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelCommentGet(char* comment) {
    return CallStarted(
        Operation::kCommentGet,
        [&](State& state) { return GetText(state.comment.data(), comment); }, TraceOut{comment});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelSet(const char* passcode, const char* comment) {
    return CallStarted(
        Operation::kSet, [&](State& state) { return Set(state, passcode, comment); }, passcode,
        comment);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelPeerInfoGet(const char* peer_id, PeerInfoRecord* info) {
    return CallStarted(
        Operation::kPeerInfoGet, [&](State& state) { return PeerInfoGet(state, peer_id, info); },
        peer_id, TraceOut{info});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectAdd(const char* leading_text, const char* peer_id,
                                                   int32_t type, int32_t encrypt,
                                                   const char* listen_addr, const char* client_addr,
                                                   char* local_client_addr) {
    return CallStarted(
        Operation::kConnectAdd,
        [&](State& state) {
            return ConnectAdd(state, leading_text, peer_id, type, encrypt, listen_addr, client_addr,
                              local_client_addr);
        },
        leading_text, peer_id, type, encrypt, listen_addr, client_addr,
        TraceOut{local_client_addr});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectDelete(const char* leading_text, const char* peer_id,
                                                      int32_t type, int32_t encrypt,
                                                      const char* listen_addr,
                                                      const char* client_addr) {
    return CallStarted(
        Operation::kConnectDelete,
        [&](State& state) {
            return ConnectDelete(state, leading_text, peer_id, type, encrypt, listen_addr,
                                 client_addr);
        },
        leading_text, peer_id, type, encrypt, listen_addr, client_addr);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectQuery(const char* peer_id, int32_t type,
                                                     int32_t encrypt, const char* listen_addr,
                                                     char* client_addr) {
    return CallStarted(
        Operation::kConnectQuery,
        [&](State& state) {
            return ConnectQuery(state, peer_id, type, encrypt, listen_addr, client_addr);
        },
        peer_id, type, encrypt, listen_addr, TraceOut{client_addr});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectLocalDelete(const char* leading_text,
                                                           const char* client_addr) {
    return CallStarted(
        Operation::kConnectLocalDelete,
        [&](State& state) { return ConnectLocalDelete(state, leading_text, client_addr); },
        leading_text, client_addr);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectLocalQuery(const char* client_addr,
                                                          ConnectRecord* record) {
    return CallStarted(
        Operation::kConnectLocalQuery,
        [&](State& state) { return ConnectLocalQuery(state, client_addr, record); }, client_addr,
        TraceOut{record});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelUserExtend(const char* request, DataRecord* reply,
                                                   int32_t flags) {
    return CallStarted(
        Operation::kUserExtend, [&](State&) { return UserExtend(request, reply); }, request, reply,
        flags);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelPushGet(DataRecord* data, int32_t timeout_ms) {
    // Not CallStarted: it waits, and must not hold the lock while it does.
    return Call(
        Operation::kPushGet, [&] { return PushGet(data, timeout_ms); }, data, timeout_ms);
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelSelfGet(char* self_id) {
    return CallStarted(
        Operation::kSelfGet, [&](State& state) { return GetText(state.self_id.data(), self_id); },
        TraceOut{self_id});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelConnectEnum(int32_t index, ConnectRecord* record) {
    return CallStarted(
        Operation::kConnectEnum, [&](State& state) { return ConnectEnum(state, index, record); },
        index, TraceOut{record});
}

TUNNEL_API ResultCode TUNNEL_CALL TunnelStatusGet(int32_t reserved, uint32_t* status) {
    return CallStarted(
        Operation::kStatusGet, [&](State& state) { return StatusGet(state, status); }, reserved,
        TraceOut{status});
}
