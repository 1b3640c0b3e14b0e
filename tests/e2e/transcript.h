// Pieces of the program's output that many cases share, byte for byte.
#pragma once

#include <string>
#include <utility>

#include "e2e_harness.h"

namespace e2e {

inline const std::string kCommandList =
    "  quit\r\n  versionget\r\n  statusget\r\n  domainget\r\n  domainset\r\n  commentget\r\n"
    "  commentset\r\n  tunnelset\r\n  peerinfoget\r\n  connectadd\r\n  connectdelete\r\n"
    "  connectquery\r\n  connectlocaldelete\r\n  connectlocalquery\r\n  userextend\r\n"
    "  pushget\r\n  selfget\r\n  connectenum\r\n";

// The library's trace of a start-up with kTunnelCfg.
inline std::string StartTrace(const std::string& device_id) {
    return "TunnelConfigGet(\"tunnel.cfg\", out, 256) = 0\n"
           "TunnelStart(\"tunnel.cfg\", \"" +
           ConfigText(device_id) + "\", 0, callback) = 0\n";
}

inline const std::string kStopTrace = "TunnelStop() = 0\n";

// A usual session: `input` after start-up, `output` after the first prompt.
inline Case Session(std::string name, std::string input, std::string output) {
    return {.name = std::move(name),
            .input = std::move(input),
            .expected_output = Banner(kDeviceId) + output};
}

// A connection record as the program prints it.
inline std::string Record(const std::string& peer, unsigned type, unsigned encrypt,
                          const std::string& listen, const std::string& client) {
    return "peer id: " + peer + "\r\ntype: " + std::to_string(type) +
           "\r\nencrypt: " + std::to_string(encrypt) + "\r\nlisten addr: " + listen +
           "\r\nclient addr: " + client + "\r\n";
}

// What one round of the stress test prints for peer "p" when every call succeeds.
inline std::string StressRound(const std::string& peer) {
    std::string text;
    for (int i = 0; i < 10; ++i) {
        text += "The connect's local client addr: 127.0.0.1:1800" + std::to_string(i) + "\r\n";
    }
    for (int i = 0; i < 10; ++i) {
        text += "Connect enum success\r\n" + Record(peer, 0, 0, "127.0.0.1:800" + std::to_string(i),
                                                    "127.0.0.1:1800" + std::to_string(i));
    }
    for (int i = 0; i < 10; ++i) {
        text += "Delete connect success\r\n";
    }
    return text;
}

inline std::string StressCalls(const std::string& peer, int enum_result, bool local_query) {
    std::string calls;
    for (int i = 0; i < 10; ++i) {
        calls += "TunnelConnectAdd(\"\", \"" + peer + "\", 0, 0, \"127.0.0.1:800" +
                 std::to_string(i) + "\", \"127.0.0.1:1800" + std::to_string(i) + "\", out) = 0\n";
    }
    for (int i = 0; i < 10; ++i) {
        calls += "TunnelConnectEnum(" + std::to_string(i) +
                 ", out) = " + std::to_string(enum_result) + "\n";
        if (local_query) {
            calls += "TunnelConnectLocalQuery(\"127.0.0.1:1800" + std::to_string(i) +
                     "\", out) = " + std::to_string(enum_result) + "\n";
        }
    }
    for (int i = 0; i < 10; ++i) {
        calls += "TunnelConnectDelete(\"\", \"" + peer + "\", 0, 0, \"127.0.0.1:800" +
                 std::to_string(i) + "\", \"127.0.0.1:1800" + std::to_string(i) + "\") = 0\n";
    }
    return calls;
}

}  // namespace e2e
