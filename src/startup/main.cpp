#include "startup/program_options.h"

// The program is configured by the files beside it; its options only ask
// for help, the version, or how the session runs.
int main(int argc, char** argv) {
    return RunFromProgramOptions(argc, argv);
}
