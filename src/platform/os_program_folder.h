// What the program says about where it is installed and how it is started,
// in each platform's own terms. The folder itself is found by
// win32_standins/executable_folder.h.
#pragma once

#include <string_view>

// A folder of the user's own to unpack the program into, for the advice given
// when the program's folder may not be written: on Windows one under
// %LOCALAPPDATA%, on POSIX one under the home folder.
extern const char kWritableFolderExample[];

// Whether `argument` asks for help in the platform's own spelling, besides -h
// and --help: "/?" on Windows.
bool IsPlatformHelpSwitch(std::string_view argument);
