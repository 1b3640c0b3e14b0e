#include "platform/os_program_folder.h"

const char kWritableFolderExample[] = "%LOCALAPPDATA%\\Programs\\tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view argument) {
    return argument == "/?";
}
