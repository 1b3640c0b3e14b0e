// "testconnect": the stress loop that adds, lists and deletes loopback
// connections for one peer, round after round.
#include <cstdio>

#include "commands/handlers.h"
#include "commands/record_print.h"
#include "console/console.h"
#include "platform/os_sleep.h"
#include "run/diagnostics.h"
#include "run/run_state.h"
#include "tunnel/library_call.h"

namespace {

constexpr uint32_t kConnectionsPerRound = 10;
constexpr unsigned kPauseMilliseconds = 200;

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

void AddConnections(CommandRun& run, const char* peer_id) {
    Address local_client_addr{};
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        local_client_addr.fill('\0');
        if (Succeeded(run,
                      CALL_LIBRARY(TunnelConnectAdd, "", peer_id, 0, 0, ListenAddress(i).data(),
                                   ClientAddress(i).data(), local_client_addr.data()),
                      "Add connect failed")) {
            PrintTextLine("The connect's local client addr: ", local_client_addr);
        }
    }
}

// A failed enumeration falls back to the query by local address, into the same
// record as it was left.
void ListConnections(CommandRun& run) {
    ConnectRecord record{};
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        record = ConnectRecord{};
        if (Succeeded(run, CALL_LIBRARY(TunnelConnectEnum, static_cast<int32_t>(i), &record),
                      "Connect enum failed")) {
            ConsoleWrite(Crlf<"Connect enum success\n">());
            PrintConnectRecord(record);
        } else if (CALL_LIBRARY(TunnelConnectLocalQuery, ClientAddress(i).data(), &record) ==
                   kTunnelOk) {
            ConsoleWrite(Crlf<"Connect local query success\n">());
            PrintConnectRecord(record);
        }
    }
}

void DeleteConnections(CommandRun& run, const char* peer_id) {
    for (uint32_t i = 0; i < kConnectionsPerRound; ++i) {
        if (Succeeded(run,
                      CALL_LIBRARY(TunnelConnectDelete, "", peer_id, 0, 0, ListenAddress(i).data(),
                                   ClientAddress(i).data()),
                      "Delete connect failed")) {
            ConsoleWrite(Crlf<"Delete connect success\n">());
        }
    }
}

}  // namespace

// Its fields: the count of rounds and the peer id.
CommandOutcome RunConnectStressTest(CommandRun& run,
                                    FieldsOf<Field::kTestTimes, Field::kPeerId> fields) {
    const int32_t count = fields.number<Field::kTestTimes>();
    const char* peer_id = fields.text<Field::kPeerId>();
    // A negative count would read as billions of rounds: it runs none. A stop
    // request, Ctrl-C, or a failure when the session ends at the first, ends
    // the test after the round in progress, which deletes what it added.
    int32_t round = 0;
    for (; round < count && !CommandShouldStop() && !(run.failed && run.stop_at_failure); ++round) {
        AddConnections(run, peer_id);
        ListConnections(run);
        // A person watching sees each step before the pause, not at the end.
        ConsoleFlush();
        OsSleep(kPauseMilliseconds);
        DeleteConnections(run, peer_id);
        ConsoleFlush();
        OsSleep(kPauseMilliseconds);
    }
    // The person who pressed Ctrl-C learns how far it got.
    if (round < count && InterruptRequested() && !RunShouldEnd()) {
        ReportProblem("testconnect stopped after %d round%s", static_cast<int>(round),
                      round == 1 ? "" : "s");
    }
    return OutcomeOf(run);
}
