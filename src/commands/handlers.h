// One handler per command of the table (command_table.h). The table's row
// prompts for the fields first; each handler then takes them by the names
// its FieldsOf gives, calls one library operation with them and prints the
// outcome.
#pragma once

#include "commands/command_io.h"

// What a connection is added and deleted by.
using ConnectFields =
    FieldsOf<Field::kPeerId, Field::kType, Field::kEncrypt, Field::kListenAddr, Field::kClientAddr>;

CommandOutcome Quit(CommandRun& run);
CommandOutcome VersionGet(CommandRun& run);
CommandOutcome StatusGet(CommandRun& run);
CommandOutcome DomainSet(CommandRun& run, FieldsOf<Field::kDomain> fields);
CommandOutcome DomainGet(CommandRun& run);
CommandOutcome CommentSet(CommandRun& run, FieldsOf<Field::kComment> fields);
CommandOutcome CommentGet(CommandRun& run);
// "tunnelset": the library's operation has the name TunnelSet.
CommandOutcome TunnelSetCommand(CommandRun& run,
                                FieldsOf<Field::kPasscode, Field::kComment> fields);
CommandOutcome PeerInfoGet(CommandRun& run, FieldsOf<Field::kPeerId> fields);
CommandOutcome ConnectAdd(CommandRun& run, ConnectFields fields);
CommandOutcome ConnectDelete(CommandRun& run, ConnectFields fields);
CommandOutcome ConnectQuery(
    CommandRun& run,
    FieldsOf<Field::kPeerId, Field::kType, Field::kEncrypt, Field::kListenAddr> fields);
CommandOutcome ConnectLocalDelete(CommandRun& run, FieldsOf<Field::kClientAddr> fields);
CommandOutcome ConnectLocalQuery(CommandRun& run, FieldsOf<Field::kClientAddr> fields);
CommandOutcome UserExtend(CommandRun& run, FieldsOf<Field::kRequestData> fields);
CommandOutcome PushGet(CommandRun& run);
CommandOutcome SelfGet(CommandRun& run);
CommandOutcome ConnectEnum(CommandRun& run, FieldsOf<Field::kIndex> fields);

// "testconnect": adds, lists and deletes ten loopback connections for one
// peer, as many times as asked.
CommandOutcome RunConnectStressTest(CommandRun& run,
                                    FieldsOf<Field::kTestTimes, Field::kPeerId> fields);
