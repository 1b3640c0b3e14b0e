// The INI lookup of config.ini: any file, any capacity. The value comes back
// NUL-terminated within the capacity, and its length is what is returned.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32_standins/win32_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const DWORD capacity = 1 + data[0] % 160;
    const int file = memfd_create("config.ini", MFD_CLOEXEC);
    if (file < 0 || write(file, data + 1, size - 1) != static_cast<ssize_t>(size - 1)) {
        std::abort();
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file);
    // Exactly the capacity, so a write past it is caught.
    char* value = static_cast<char*>(std::malloc(capacity));
    const DWORD length =
        GetPrivateProfileStringA("config", "device_id", "undefined", value, capacity, path);
    if (length >= capacity || std::strlen(value) != length) {
        std::abort();
    }
    std::free(value);
    close(file);
    return 0;
}
