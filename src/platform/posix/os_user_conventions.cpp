// POSIX side of os_user_conventions.h: what its users are used to.
#include "platform/os_user_conventions.h"

const char kWritableFolderExample[] = "~/tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view) {
    return false;
}
