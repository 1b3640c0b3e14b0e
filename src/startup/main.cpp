#include "startup/startup.h"

// Arguments and environment are not used: the program is configured by the
// files beside it.
int main() {
    return RunTunnelConsole();
}
