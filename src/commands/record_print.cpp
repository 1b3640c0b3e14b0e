#include "commands/record_print.h"

#include "commands/command_io.h"
#include "console/console.h"

// Each record goes out as one print.

void PrintPeerInfoRecord(const PeerInfoRecord& record) {
    DecimalText type;
    ConsoleWrite({"peer id: ", FieldText(record.peer_id),                            //
                  "\ntype: ", ToDecimal(record.type, type),                          //
                  "\nlocal login addr: ", FieldText(record.local_login_addr),        //
                  "\nremote login addr: ", FieldText(record.remote_login_addr),      //
                  "\nlocal tunnel addr: ", FieldText(record.local_tunnel_addr),      //
                  "\nremote tunnel addr: ", FieldText(record.remote_tunnel_addr),    //
                  "\nremote private addr: ", FieldText(record.remote_private_addr),  //
                  "\n"});
}

void PrintConnectRecord(const ConnectRecord& record) {
    DecimalText type;
    DecimalText encrypt;
    ConsoleWrite({"peer id: ", FieldText(record.peer_id),             //
                  "\ntype: ", ToDecimal(record.type, type),           //
                  "\nencrypt: ", ToDecimal(record.encrypt, encrypt),  //
                  "\nlisten addr: ", FieldText(record.listen_addr),   //
                  "\nclient addr: ", FieldText(record.client_addr),   //
                  "\n"});
}
