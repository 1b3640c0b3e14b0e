#include "commands/handlers.h"

#include "commands/record_print.h"
#include "platform/console.h"
#include "platform/crash_report.h"

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

bool PromptConnectFields(ConnectFields& fields, bool with_client_addr) {
    return PromptText("peer id: ", fields.peer_id) &&
           PromptInteger("type: ", fields.type_text, &fields.type) &&
           PromptInteger("encrypt: ", fields.encrypt_text, &fields.encrypt) &&
           PromptText("listen addr: ", fields.listen_addr) &&
           (!with_client_addr || PromptText("client addr: ", fields.client_addr));
}

DataRecord EmptyDataRecord() {
    DataRecord record{};
    record.size = kDataCapacity;
    return record;
}

}  // namespace

CommandOutcome DomainSet() {
    TextField<kDomainCapacity> domain{};
    if (!PromptText("passcode: ", domain)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelDomainSet", TunnelDomainSet, domain.data()),
                  "Set domain failed")) {
        ConsoleWrite("Set domain success\n");
    }
    return kDone;
}

CommandOutcome DomainGet() {
    TextField<kDomainCapacity> domain{};
    if (Succeeded(CallLibrary("TunnelDomainGet", TunnelDomainGet, domain.data()),
                  "Get domain failed")) {
        PrintTextLine("Domain: ", domain);
    }
    return kDone;
}

CommandOutcome CommentSet() {
    TextField<kCommentInCapacity> comment{};
    if (!PromptText("comment: ", comment)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelCommentSet", TunnelCommentSet, comment.data()),
                  "Set comment failed")) {
        ConsoleWrite("Set comment success\n");
    }
    return kDone;
}

CommandOutcome CommentGet() {
    TextField<kCommentOutCapacity> comment{};
    if (Succeeded(CallLibrary("TunnelCommentGet", TunnelCommentGet, comment.data()),
                  "Get comment failed")) {
        PrintTextLine("Comment: ", comment);
    }
    return kDone;
}

CommandOutcome TunnelPasscodeSet() {
    TextField<kPasscodeCapacity> passcode{};
    TextField<kCommentInCapacity> comment{};
    if (!PromptText("passcode: ", passcode) || !PromptText("comment: ", comment)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelSet", TunnelSet, passcode.data(), comment.data()),
                  "Set tunnel failed")) {
        ConsoleWrite("Set tunnel success\n");
    }
    return kDone;
}

CommandOutcome PeerInfoGet() {
    TextField<kPeerIdCapacity> peer_id{};
    PeerInfoRecord record{};
    if (!PromptText("peer id: ", peer_id)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelPeerInfoGet", TunnelPeerInfoGet, peer_id.data(), &record),
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
    if (Succeeded(CallLibrary("TunnelConnectAdd", TunnelConnectAdd, "", fields.peer_id.data(),
                              fields.type, fields.encrypt, fields.listen_addr.data(),
                              fields.client_addr.data(), local_client_addr.data()),
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
    if (Succeeded(CallLibrary("TunnelConnectDelete", TunnelConnectDelete, "", fields.peer_id.data(),
                              fields.type, fields.encrypt, fields.listen_addr.data(),
                              fields.client_addr.data()),
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
    if (Succeeded(CallLibrary("TunnelConnectQuery", TunnelConnectQuery, fields.peer_id.data(),
                              fields.type, fields.encrypt, fields.listen_addr.data(),
                              fields.client_addr.data()),
                  "Query connect failed")) {
        PrintTextLine("The connect's client addr: ", fields.client_addr);
    }
    return kDone;
}

CommandOutcome ConnectLocalDelete() {
    TextField<kAddressCapacity> client_addr{};
    if (!PromptText("client addr: ", client_addr)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelConnectLocalDelete", TunnelConnectLocalDelete, "",
                              client_addr.data()),
                  "Delete connect by local address failed")) {
        ConsoleWrite("Delete connect by local address success\n");
    }
    return kDone;
}

CommandOutcome ConnectLocalQuery() {
    TextField<kAddressCapacity> client_addr{};
    ConnectRecord record{};
    if (!PromptText("client addr: ", client_addr)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelConnectLocalQuery", TunnelConnectLocalQuery,
                              client_addr.data(), &record),
                  "Query connect by local address failed")) {
        ConsoleWrite("Query connect by local address success\n");
        PrintConnectRecord(record);
    }
    return kDone;
}

CommandOutcome UserExtend() {
    TextField<kRequestCapacity> request{};
    DataRecord reply = EmptyDataRecord();
    if (!PromptText("request data: ", request)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelUserExtend", TunnelUserExtend, request.data(), &reply, 0),
                  "User extend request failed")) {
        ConsoleWrite("User extend request success\n");
        PrintTextLine("reply data: ", reply.data);
    }
    return kDone;
}

CommandOutcome PushGet() {
    DataRecord push = EmptyDataRecord();
    if (Succeeded(CallLibrary("TunnelPushGet", TunnelPushGet, &push, 1000), "Push get failed")) {
        ConsoleWrite("Push get success\n");
        PrintTextLine("push data: ", push.data);
    }
    return kDone;
}

CommandOutcome SelfGet() {
    TextField<kSelfIdCapacity> self_id{};
    if (Succeeded(CallLibrary("TunnelSelfGet", TunnelSelfGet, self_id.data()), "Self get failed")) {
        ConsoleWrite("Self get success\n");
        PrintTextLine("Self ID: ", self_id);
    }
    return kDone;
}

CommandOutcome ConnectEnum() {
    TextField<kIndexFieldCapacity> index_text{};
    int32_t index = 0;
    ConnectRecord record{};
    if (!PromptInteger("index: ", index_text, &index)) {
        return kEnded;
    }
    if (Succeeded(CallLibrary("TunnelConnectEnum", TunnelConnectEnum, index, &record),
                  "Connect enum failed")) {
        ConsoleWrite("Connect enum success\n");
        PrintConnectRecord(record);
    }
    return kDone;
}
