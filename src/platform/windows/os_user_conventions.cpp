// Windows side of os_system.h: how the program is installed and started.
#include "platform/os_system.h"

const char kWritableFolderExample[] = "%LOCALAPPDATA%\\Programs\\tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view argument) {
    return argument == "/?";
}
