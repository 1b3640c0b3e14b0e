// The program's options: for the session, help and version.
#pragma once

// Parses the program's arguments and runs what they ask for: the usage
// text, the version, or the session. An argument that is no option is
// ignored, and named on standard error first. Returns the exit status.
int RunFromProgramOptions(int argc, char** argv);
