// Windows side of os_user_conventions.h: what its users are used to.
#include "platform/os_user_conventions.h"

const char kWritableFolderExample[] = "%LOCALAPPDATA%\\Programs\\tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view argument) {
    return argument == "/?";
}
