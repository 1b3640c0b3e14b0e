#pragma once

// The whole run: locate the program's folder, prepare and start the tunnel
// library, run the command loop, stop the library. Returns the exit status.
int RunTunnelConsole();
