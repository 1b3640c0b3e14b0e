// config.ini's lookup: Win32's GetPrivateProfileStringA on Windows, its
// stand-in in shared/win32_standins elsewhere.
#pragma once

#include <span>

// The value of `key` in `section` of the INI file `file`, or `default_value`,
// cut to the capacity of `value` less one, as Win32's lookup gives it.
void OsReadIniValue(const char* file, const char* section, const char* key,
                    const char* default_value, std::span<char> value);
