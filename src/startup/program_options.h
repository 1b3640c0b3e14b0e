// The program's command line: options for the session, help and version.
#pragma once

// Parses the command line and runs what it asks for: the usage text, the
// version, or the session. An argument that is no option is ignored, and
// named on standard error first. Returns the exit status.
int RunFromCommandLine(int argc, char** argv);
