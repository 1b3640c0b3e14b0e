#include "platform/program_folder.h"

const char kWritableFolderExample[] = "%LOCALAPPDATA%\\Programs\\tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view argument) {
    return argument == "/?";
}
