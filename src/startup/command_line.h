// The program's command line: options for the session, help and version.
#pragma once

// Parses the command line and runs what it asks for: the usage text, the
// version, or the session. Returns the exit status (2 for a usage error,
// which is reported on standard error before anything is touched).
int RunFromCommandLine(int argc, char** argv);
