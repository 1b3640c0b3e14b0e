#include "commands/handlers.h"

#include "commands/record_print.h"
#include "console/console.h"
#include "tunnel/library_call.h"

namespace {

constexpr CommandOutcome kFailed = CommandOutcome::kFailed;
constexpr CommandOutcome kDone = CommandOutcome::kCompleted;

DataRecord EmptyDataRecord() {
    DataRecord record{};
    record.size = kDataCapacity;
    return record;
}

}  // namespace

CommandOutcome Quit(CommandRun&) {
    return CommandOutcome::kQuit;
}

CommandOutcome VersionGet(CommandRun& run) {
    TextField<kVersionCapacity> version{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelVersionGet, version.data()), "Get version failed")) {
        return kFailed;
    }
    PrintTextLine("Version: ", version);
    return kDone;
}

CommandOutcome StatusGet(CommandRun& run) {
    uint32_t status = 0;
    if (!Succeeded(run, CALL_LIBRARY(TunnelStatusGet, 0, &status), "Get status failed")) {
        return kFailed;
    }
    PrintNumberLine("Status: ", status);
    return kDone;
}

CommandOutcome DomainSet(CommandRun& run, FieldsOf<Field::kDomain> fields) {
    if (!Succeeded(run, CALL_LIBRARY(TunnelDomainSet, fields.text<Field::kDomain>()),
                   "Set domain failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Set domain success\n">());
    return kDone;
}

CommandOutcome DomainGet(CommandRun& run) {
    TextField<kDomainCapacity> domain{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelDomainGet, domain.data()), "Get domain failed")) {
        return kFailed;
    }
    PrintTextLine("Domain: ", domain);
    return kDone;
}

CommandOutcome CommentSet(CommandRun& run, FieldsOf<Field::kComment> fields) {
    if (!Succeeded(run, CALL_LIBRARY(TunnelCommentSet, fields.text<Field::kComment>()),
                   "Set comment failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Set comment success\n">());
    return kDone;
}

CommandOutcome CommentGet(CommandRun& run) {
    TextField<kCommentOutCapacity> comment{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelCommentGet, comment.data()), "Get comment failed")) {
        return kFailed;
    }
    PrintTextLine("Comment: ", comment);
    return kDone;
}

CommandOutcome TunnelSetCommand(CommandRun& run,
                                FieldsOf<Field::kPasscode, Field::kComment> fields) {
    if (!Succeeded(run,
                   CALL_LIBRARY(TunnelSet, fields.text<Field::kPasscode>(),
                                fields.text<Field::kComment>()),
                   "Set tunnel failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Set tunnel success\n">());
    return kDone;
}

CommandOutcome PeerInfoGet(CommandRun& run, FieldsOf<Field::kPeerId> fields) {
    PeerInfoRecord record{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelPeerInfoGet, fields.text<Field::kPeerId>(), &record),
                   "Get peer info failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Get peer info success\n">());
    PrintPeerInfoRecord(record);
    return kDone;
}

CommandOutcome ConnectAdd(CommandRun& run, ConnectFields fields) {
    TextField<kAddressCapacity> local_client_addr{};
    if (!Succeeded(run,
                   CALL_LIBRARY(TunnelConnectAdd, "", fields.text<Field::kPeerId>(),
                                fields.number<Field::kType>(), fields.number<Field::kEncrypt>(),
                                fields.text<Field::kListenAddr>(),
                                fields.text<Field::kClientAddr>(), local_client_addr.data()),
                   "Add connect failed")) {
        return kFailed;
    }
    PrintTextLine("The connect's local client addr: ", local_client_addr);
    return kDone;
}

CommandOutcome ConnectDelete(CommandRun& run, ConnectFields fields) {
    if (!Succeeded(
            run,
            CALL_LIBRARY(TunnelConnectDelete, "", fields.text<Field::kPeerId>(),
                         fields.number<Field::kType>(), fields.number<Field::kEncrypt>(),
                         fields.text<Field::kListenAddr>(), fields.text<Field::kClientAddr>()),
            "Delete connect failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Delete connect success\n">());
    return kDone;
}

CommandOutcome ConnectQuery(
    CommandRun& run,
    FieldsOf<Field::kPeerId, Field::kType, Field::kEncrypt, Field::kListenAddr> fields) {
    TextField<kAddressCapacity> client_addr{};
    if (!Succeeded(run,
                   CALL_LIBRARY(TunnelConnectQuery, fields.text<Field::kPeerId>(),
                                fields.number<Field::kType>(), fields.number<Field::kEncrypt>(),
                                fields.text<Field::kListenAddr>(), client_addr.data()),
                   "Query connect failed")) {
        return kFailed;
    }
    PrintTextLine("The connect's client addr: ", client_addr);
    return kDone;
}

CommandOutcome ConnectLocalDelete(CommandRun& run, FieldsOf<Field::kClientAddr> fields) {
    if (!Succeeded(run,
                   CALL_LIBRARY(TunnelConnectLocalDelete, "", fields.text<Field::kClientAddr>()),
                   "Delete connect by local address failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Delete connect by local address success\n">());
    return kDone;
}

CommandOutcome ConnectLocalQuery(CommandRun& run, FieldsOf<Field::kClientAddr> fields) {
    ConnectRecord record{};
    if (!Succeeded(
            run, CALL_LIBRARY(TunnelConnectLocalQuery, fields.text<Field::kClientAddr>(), &record),
            "Query connect by local address failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Query connect by local address success\n">());
    PrintConnectRecord(record);
    return kDone;
}

CommandOutcome UserExtend(CommandRun& run, FieldsOf<Field::kRequestData> fields) {
    DataRecord reply = EmptyDataRecord();
    if (!Succeeded(run,
                   CALL_LIBRARY(TunnelUserExtend, fields.text<Field::kRequestData>(), &reply, 0),
                   "User extend request failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"User extend request success\n">());
    PrintTextLine("reply data: ", reply.data);
    return kDone;
}

CommandOutcome PushGet(CommandRun& run) {
    DataRecord push = EmptyDataRecord();
    if (!Succeeded(run, CALL_LIBRARY(TunnelPushGet, &push, 1000), "Push get failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Push get success\n">());
    PrintTextLine("push data: ", push.data);
    return kDone;
}

CommandOutcome SelfGet(CommandRun& run) {
    TextField<kSelfIdCapacity> self_id{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelSelfGet, self_id.data()), "Self get failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Self get success\n">());
    PrintTextLine("Self ID: ", self_id);
    return kDone;
}

CommandOutcome ConnectEnum(CommandRun& run, FieldsOf<Field::kIndex> fields) {
    ConnectRecord record{};
    if (!Succeeded(run, CALL_LIBRARY(TunnelConnectEnum, fields.number<Field::kIndex>(), &record),
                   "Connect enum failed")) {
        return kFailed;
    }
    ConsoleWrite(Crlf<"Connect enum success\n">());
    PrintConnectRecord(record);
    return kDone;
}
