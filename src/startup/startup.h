#pragma once

// How a session runs, as the program's options ask.
struct SessionOptions {
    bool quiet = false;          // no prompts at all
    bool exit_on_error = false;  // the first failure ends the run
};

// The whole run: locate the program's folder, prepare and start the tunnel
// library, run the command loop, stop the library. Returns the exit status:
// 0, unless `options` ask to end at the first failure (see EndStatus).
int RunTunnelConsole(SessionOptions options = {});
