// "testconnect": the stress loop that adds, lists and deletes loopback
// connections for one peer, round after round.
#include <cstdio>

#include "commands/decimal.h"
#include "commands/handlers.h"
#include "commands/record_print.h"
#include "console/console.h"
#include "run/run_state.h"
#include "tunnel/library_call.h"
#include "win32_standins/win32_calls.h"

namespace {

constexpr uint32_t kConnectionsPerRound = 10;
constexpr DWORD kPauseMilliseconds = 200;

using Address = TextField<kAddressCapacity>;

Address ListenAddress(uint32_t i) {
    Address address{};
    std::snprintf(address.data(), address.size(), "127.0.0.1:800%u", i);
    return address;
}

Address ClientAddress(uint32_t i) {
    Address address{};
    std::snprintf(address.data(), address.size(), "127.0.0.1:1800%u", i);
    return address;
}

void AddConnections(const char* peer_id) {
    Address local_client_addr{};
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        local_client_addr.fill('\0');
        if (Succeeded(CALL_LIBRARY(TunnelConnectAdd, "", peer_id, 0, 0, ListenAddress(i).data(),
                                   ClientAddress(i).data(), local_client_addr.data()),
                      "Add connect failed")) {
            PrintTextLine("The connect's local client addr: ", local_client_addr);
        }
    }
}

// A failed enumeration falls back to the query by local address, into the same
// record as it was left.
void ListConnections() {
    ConnectRecord record{};
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        record = ConnectRecord{};
        if (Succeeded(CALL_LIBRARY(TunnelConnectEnum, static_cast<int32_t>(i), &record),
                      "Connect enum failed")) {
            ConsoleWrite("Connect enum success\n");
            PrintConnectRecord(record);
        } else if (CALL_LIBRARY(TunnelConnectLocalQuery, ClientAddress(i).data(), &record) ==
                   kTunnelOk) {
            ConsoleWrite("Connect local query success\n");
            PrintConnectRecord(record);
        }
    }
}

void DeleteConnections(const char* peer_id) {
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        if (Succeeded(CALL_LIBRARY(TunnelConnectDelete, "", peer_id, 0, 0, ListenAddress(i).data(),
                                   ClientAddress(i).data()),
                      "Delete connect failed")) {
            ConsoleWrite("Delete connect success\n");
        }
    }
}

}  // namespace

CommandOutcome RunConnectStressTest() {
    TextField<kIndexFieldCapacity> count_text{};
    TextField<kPeerIdCapacity> peer_id{};
    if (!PromptFields(kTestConnectPrompts, {count_text, peer_id})) {
        return CommandOutcome::InputEnded;
    }
    const int32_t count = ParseDecimal(FieldText(count_text));
    // A negative count would read as billions of rounds: it runs none. A stop
    // request, or a failure when the session ends at the first, ends the test
    // after the round in progress.
    for (int32_t round = 0; round < count && !RunShouldEnd() && !EndForFailure(); ++round) {
        AddConnections(peer_id.data());
        ListConnections();
        // A person watching sees each step before the pause, not at the end.
        ConsoleFlush();
        Sleep(kPauseMilliseconds);
        DeleteConnections(peer_id.data());
        ConsoleFlush();
        Sleep(kPauseMilliseconds);
    }
    return CommandOutcome::Completed;
}
