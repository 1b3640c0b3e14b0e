// One handler per library command. Each prompts for its fields, calls one
// library operation and prints the outcome.
#pragma once

#include "commands/command_io.h"

CommandOutcome DomainSet();
CommandOutcome DomainGet();
CommandOutcome CommentSet();
CommandOutcome CommentGet();
CommandOutcome TunnelPasscodeSet();
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
