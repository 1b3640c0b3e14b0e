#include "commands/record_print.h"

#include "commands/command_io.h"
#include "console/console.h"

// Each record goes out as one print; its labels are CR LF when compiled.

void PrintPeerInfoRecord(const PeerInfoRecord& record) {
    DecimalText type;
    ConsoleWrite({Crlf<"peer id: ">(), FieldText(record.peer_id),                            //
                  Crlf<"\ntype: ">(), ToDecimal(record.type, type),                          //
                  Crlf<"\nlocal login addr: ">(), FieldText(record.local_login_addr),        //
                  Crlf<"\nremote login addr: ">(), FieldText(record.remote_login_addr),      //
                  Crlf<"\nlocal tunnel addr: ">(), FieldText(record.local_tunnel_addr),      //
                  Crlf<"\nremote tunnel addr: ">(), FieldText(record.remote_tunnel_addr),    //
                  Crlf<"\nremote private addr: ">(), FieldText(record.remote_private_addr),  //
                  Crlf<"\n">()});
}

void PrintConnectRecord(const ConnectRecord& record) {
    DecimalText type;
    DecimalText encrypt;
    ConsoleWrite({Crlf<"peer id: ">(), FieldText(record.peer_id),             //
                  Crlf<"\ntype: ">(), ToDecimal(record.type, type),           //
                  Crlf<"\nencrypt: ">(), ToDecimal(record.encrypt, encrypt),  //
                  Crlf<"\nlisten addr: ">(), FieldText(record.listen_addr),   //
                  Crlf<"\nclient addr: ">(), FieldText(record.client_addr),   //
                  Crlf<"\n">()});
}
