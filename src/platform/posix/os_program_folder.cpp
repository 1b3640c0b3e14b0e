#include "platform/os_program_folder.h"

const char kWritableFolderExample[] = "~/tunnelconsole";

bool IsPlatformHelpSwitch(std::string_view) {
    return false;
}
