// One handler per command of the table (command_table.h). The table's row
// prompts for the fields first; each handler then takes them by name
// (CommandRun::text, CommandRun::number), calls one library operation with
// them and prints the outcome.
#pragma once

#include "commands/command_io.h"

CommandOutcome Quit(CommandRun& run);
CommandOutcome VersionGet(CommandRun& run);
CommandOutcome StatusGet(CommandRun& run);
CommandOutcome DomainSet(CommandRun& run);
CommandOutcome DomainGet(CommandRun& run);
CommandOutcome CommentSet(CommandRun& run);
CommandOutcome CommentGet(CommandRun& run);
// "tunnelset": the library's operation has the name TunnelSet.
CommandOutcome TunnelSetCommand(CommandRun& run);
CommandOutcome PeerInfoGet(CommandRun& run);
CommandOutcome ConnectAdd(CommandRun& run);
CommandOutcome ConnectDelete(CommandRun& run);
CommandOutcome ConnectQuery(CommandRun& run);
CommandOutcome ConnectLocalDelete(CommandRun& run);
CommandOutcome ConnectLocalQuery(CommandRun& run);
CommandOutcome UserExtend(CommandRun& run);
CommandOutcome PushGet(CommandRun& run);
CommandOutcome SelfGet(CommandRun& run);
CommandOutcome ConnectEnum(CommandRun& run);

// "testconnect": adds, lists and deletes ten loopback connections for one
// peer, as many times as asked.
CommandOutcome RunConnectStressTest(CommandRun& run);
