#include "commands/record_print.h"

#include "commands/command_io.h"
#include "platform/console.h"

void PrintPeerInfoRecord(const PeerInfoRecord& record) {
    PrintTextLine("peer id: ", record.peer_id);
    ConsolePrint("type: %u\n", record.type);
    PrintTextLine("local login addr: ", record.local_login_addr);
    PrintTextLine("remote login addr: ", record.remote_login_addr);
    PrintTextLine("local tunnel addr: ", record.local_tunnel_addr);
    PrintTextLine("remote tunnel addr: ", record.remote_tunnel_addr);
    PrintTextLine("remote private addr: ", record.remote_private_addr);
}

void PrintConnectRecord(const ConnectRecord& record) {
    PrintTextLine("peer id: ", record.peer_id);
    ConsolePrint("type: %u\n", record.type);
    ConsolePrint("encrypt: %u\n", record.encrypt);
    PrintTextLine("listen addr: ", record.listen_addr);
    PrintTextLine("client addr: ", record.client_addr);
}
