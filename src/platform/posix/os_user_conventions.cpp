// POSIX side of os_system.h: how the program is installed and started.
#include "platform/os_system.h"

const char kWritableFolderExample[] = "~/tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view) {
    return false;
}
