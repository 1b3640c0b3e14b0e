#pragma once

#include "commands/command_io.h"

// The whole run: locate the program's folder, prepare and start the tunnel
// library, run the command loop, stop the library. Returns the exit status:
// 0, unless `options` ask to end at the first failure (see EndStatus).
int RunTunnelConsole(SessionOptions options = {});
