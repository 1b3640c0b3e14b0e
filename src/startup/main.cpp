#include "startup/program_options.h"

// The program is configured by the files beside it; the command line only
// asks for help, the version, or how the session runs.
int main(int argc, char** argv) {
    return RunFromCommandLine(argc, argv);
}
