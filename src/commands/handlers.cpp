#include "commands/handlers.h"

#include "commands/decimal.h"
#include "commands/record_print.h"
#include "console/console.h"
#include "tunnel/library_call.h"

namespace {

constexpr CommandOutcome kDone = CommandOutcome::Completed;
constexpr CommandOutcome kEnded = CommandOutcome::InputEnded;

// The connection a connect command names.
struct ConnectFields {
    TextField<kPeerIdCapacity> peer_id{};
    TextField<kNumberFieldCapacity> type_text{};
    TextField<kNumberFieldCapacity> encrypt_text{};
    TextField<kAddressCapacity> listen_addr{};
    TextField<kAddressCapacity> client_addr{};
    int32_t type = 0;
    int32_t encrypt = 0;
};

// The connection's fields, the client address included or not; type and
// encrypt converted once all are read.
bool PromptConnectFields(ConnectFields& fields, bool with_client_addr) {
    const bool complete =
        with_client_addr
            ? PromptFields(kConnectPrompts, {fields.peer_id, fields.type_text, fields.encrypt_text,
                                             fields.listen_addr, fields.client_addr})
            : PromptFields(kConnectQueryPrompts, {fields.peer_id, fields.type_text,
                                                  fields.encrypt_text, fields.listen_addr});
    fields.type = ParseDecimal(FieldText(fields.type_text));
    fields.encrypt = ParseDecimal(FieldText(fields.encrypt_text));
    return complete;
}

DataRecord EmptyDataRecord() {
    DataRecord record{};
    record.size = kDataCapacity;
    return record;
}

}  // namespace

CommandOutcome DomainSet() {
    TextField<kDomainCapacity> domain{};
    if (!PromptFields(kDomainSetPrompts, {domain})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelDomainSet, domain.data()), "Set domain failed")) {
        ConsoleWrite("Set domain success\n");
    }
    return kDone;
}

CommandOutcome DomainGet() {
    TextField<kDomainCapacity> domain{};
    if (Succeeded(CALL_LIBRARY(TunnelDomainGet, domain.data()), "Get domain failed")) {
        PrintTextLine("Domain: ", domain);
    }
    return kDone;
}

CommandOutcome CommentSet() {
    TextField<kCommentInCapacity> comment{};
    if (!PromptFields(kCommentSetPrompts, {comment})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelCommentSet, comment.data()), "Set comment failed")) {
        ConsoleWrite("Set comment success\n");
    }
    return kDone;
}

CommandOutcome CommentGet() {
    TextField<kCommentOutCapacity> comment{};
    if (Succeeded(CALL_LIBRARY(TunnelCommentGet, comment.data()), "Get comment failed")) {
        PrintTextLine("Comment: ", comment);
    }
    return kDone;
}

CommandOutcome TunnelSetCommand() {
    TextField<kPasscodeCapacity> passcode{};
    TextField<kCommentInCapacity> comment{};
    if (!PromptFields(kTunnelSetPrompts, {passcode, comment})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelSet, passcode.data(), comment.data()), "Set tunnel failed")) {
        ConsoleWrite("Set tunnel success\n");
    }
    return kDone;
}

CommandOutcome PeerInfoGet() {
    TextField<kPeerIdCapacity> peer_id{};
    PeerInfoRecord record{};
    if (!PromptFields(kPeerInfoGetPrompts, {peer_id})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelPeerInfoGet, peer_id.data(), &record),
                  "Get peer info failed")) {
        ConsoleWrite("Get peer info success\n");
        PrintPeerInfoRecord(record);
    }
    return kDone;
}

CommandOutcome ConnectAdd() {
    ConnectFields fields;
    TextField<kAddressCapacity> local_client_addr{};
    if (!PromptConnectFields(fields, true)) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelConnectAdd, "", fields.peer_id.data(), fields.type,
                               fields.encrypt, fields.listen_addr.data(), fields.client_addr.data(),
                               local_client_addr.data()),
                  "Add connect failed")) {
        PrintTextLine("The connect's local client addr: ", local_client_addr);
    }
    return kDone;
}

CommandOutcome ConnectDelete() {
    ConnectFields fields;
    if (!PromptConnectFields(fields, true)) {
        return kEnded;
    }
    if (Succeeded(
            CALL_LIBRARY(TunnelConnectDelete, "", fields.peer_id.data(), fields.type,
                         fields.encrypt, fields.listen_addr.data(), fields.client_addr.data()),
            "Delete connect failed")) {
        ConsoleWrite("Delete connect success\n");
    }
    return kDone;
}

CommandOutcome ConnectQuery() {
    ConnectFields fields;
    if (!PromptConnectFields(fields, false)) {
        return kEnded;
    }
    if (Succeeded(
            CALL_LIBRARY(TunnelConnectQuery, fields.peer_id.data(), fields.type, fields.encrypt,
                         fields.listen_addr.data(), fields.client_addr.data()),
            "Query connect failed")) {
        PrintTextLine("The connect's client addr: ", fields.client_addr);
    }
    return kDone;
}

CommandOutcome ConnectLocalDelete() {
    TextField<kAddressCapacity> client_addr{};
    if (!PromptFields(kClientAddrPrompts, {client_addr})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelConnectLocalDelete, "", client_addr.data()),
                  "Delete connect by local address failed")) {
        ConsoleWrite("Delete connect by local address success\n");
    }
    return kDone;
}

CommandOutcome ConnectLocalQuery() {
    TextField<kAddressCapacity> client_addr{};
    ConnectRecord record{};
    if (!PromptFields(kClientAddrPrompts, {client_addr})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelConnectLocalQuery, client_addr.data(), &record),
                  "Query connect by local address failed")) {
        ConsoleWrite("Query connect by local address success\n");
        PrintConnectRecord(record);
    }
    return kDone;
}

CommandOutcome UserExtend() {
    TextField<kRequestCapacity> request{};
    DataRecord reply = EmptyDataRecord();
    if (!PromptFields(kUserExtendPrompts, {request})) {
        return kEnded;
    }
    if (Succeeded(CALL_LIBRARY(TunnelUserExtend, request.data(), &reply, 0),
                  "User extend request failed")) {
        ConsoleWrite("User extend request success\n");
        PrintTextLine("reply data: ", reply.data);
    }
    return kDone;
}

CommandOutcome PushGet() {
    DataRecord push = EmptyDataRecord();
    if (Succeeded(CALL_LIBRARY(TunnelPushGet, &push, 1000), "Push get failed")) {
        ConsoleWrite("Push get success\n");
        PrintTextLine("push data: ", push.data);
    }
    return kDone;
}

CommandOutcome SelfGet() {
    TextField<kSelfIdCapacity> self_id{};
    if (Succeeded(CALL_LIBRARY(TunnelSelfGet, self_id.data()), "Self get failed")) {
        ConsoleWrite("Self get success\n");
        PrintTextLine("Self ID: ", self_id);
    }
    return kDone;
}

CommandOutcome ConnectEnum() {
    TextField<kIndexFieldCapacity> index_text{};
    ConnectRecord record{};
    if (!PromptFields(kConnectEnumPrompts, {index_text})) {
        return kEnded;
    }
    const int32_t index = ParseDecimal(FieldText(index_text));
    if (Succeeded(CALL_LIBRARY(TunnelConnectEnum, index, &record), "Connect enum failed")) {
        ConsoleWrite("Connect enum success\n");
        PrintConnectRecord(record);
    }
    return kDone;
}
