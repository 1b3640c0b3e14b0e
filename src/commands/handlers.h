// One handler per library command. Each prompts for its fields, calls one
// library operation and prints the outcome.
#pragma once

#include <array>

#include "commands/command_io.h"

// The fields each command asks for, in the order it asks. The handlers prompt
// from these, and the usage text lists them. "domainset" asks for the domain
// as "passcode: ", so what is typed there is shown; "tunnelset"'s passcode is
// a secret.
inline constexpr std::array<Prompt, 1> kDomainSetPrompts = {"passcode: "};
inline constexpr std::array<Prompt, 1> kCommentSetPrompts = {"comment: "};
inline constexpr std::array<Prompt, 2> kTunnelSetPrompts = {Prompt("passcode: ", Typed::kSecret),
                                                            "comment: "};
inline constexpr std::array<Prompt, 1> kPeerInfoGetPrompts = {"peer id: "};
// "connectadd" and "connectdelete".
inline constexpr std::array<Prompt, 5> kConnectPrompts = {
    "peer id: ", "type: ", "encrypt: ", "listen addr: ", "client addr: "};
inline constexpr std::array<Prompt, 4> kConnectQueryPrompts = {
    "peer id: ", "type: ", "encrypt: ", "listen addr: "};
// "connectlocaldelete" and "connectlocalquery".
inline constexpr std::array<Prompt, 1> kClientAddrPrompts = {"client addr: "};
inline constexpr std::array<Prompt, 1> kUserExtendPrompts = {"request data: "};
inline constexpr std::array<Prompt, 1> kConnectEnumPrompts = {"index: "};
inline constexpr std::array<Prompt, 2> kTestConnectPrompts = {"test times: ", "peer id: "};

CommandOutcome DomainSet();
CommandOutcome DomainGet();
CommandOutcome CommentSet();
CommandOutcome CommentGet();
// "tunnelset": the library's operation has the name TunnelSet.
CommandOutcome TunnelSetCommand();
CommandOutcome PeerInfoGet();
CommandOutcome ConnectAdd();
CommandOutcome ConnectDelete();
CommandOutcome ConnectQuery();
CommandOutcome ConnectLocalDelete();
CommandOutcome ConnectLocalQuery();
CommandOutcome UserExtend();
CommandOutcome PushGet();
CommandOutcome SelfGet();
CommandOutcome ConnectEnum();

// "testconnect": adds, lists and deletes ten loopback connections for one
// peer, as many times as asked.
CommandOutcome RunConnectStressTest();
