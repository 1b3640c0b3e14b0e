#pragma once

#include "tunnel/tunnel_api.h"

// Handed to TunnelStart: writes each library message to standard output as
// plain data, in one write, and returns its length.
int32_t TUNNEL_CALL LogCallback(int32_t level, const char* message);
