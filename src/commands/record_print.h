// The printed form of the records the library fills. Text fields print up to
// their first NUL or their whole width; type and encrypt print unsigned.
#pragma once

#include "tunnel/tunnel_api.h"

void PrintPeerInfoRecord(const PeerInfoRecord& record);
void PrintConnectRecord(const ConnectRecord& record);
