// What the platform's users are used to, for the words the program says:
// posix/ and windows/os_user_conventions.cpp give them.
#pragma once

#include <string_view>

// A folder of the user's own to unpack the program into, for the advice given
// when the program's folder may not be written: on Windows one under
// %LOCALAPPDATA%, on POSIX one under the home folder.
extern const char kWritableFolderExample[];

// Whether `argument` asks for help in the platform's own spelling, besides -h
// and --help: "/?" on Windows.
bool IsPlatformHelpSwitch(std::string_view argument);
