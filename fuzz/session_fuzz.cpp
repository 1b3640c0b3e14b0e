// A whole run against the stand-in library, with any bytes as standard input.
// Every run must end with the library stopped. Standard output goes to the
// null device; config.ini and tunnel.cfg lie beside this program.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "startup/startup.h"
#include "tunnel/tunnel_api.h"
#include "win32_standins/win32_calls.h"

namespace {

void LayFile(const char* folder, const char* name, std::string_view bytes) {
    char path[4096];
    PathCombineA(path, folder, name);
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::abort();
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[4096];
    GetModuleFileNameA(nullptr, folder, sizeof folder);
    PathRemoveFileSpecA(folder);
    LayFile(folder, "config.ini", "[config]\r\ndevice_id=fuzz\r\n");
    LayFile(folder, "tunnel.cfg", "(DevID){}\r\n(Home){Home}\r\n(LogLevel){2}\r\n");
    // An empty push queue would hold each "pushget" for a second.
    setenv("TUNNEL_SIM_FAULTS", "TunnelPushGet=-6", 1);
    const int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    close(null_device);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The stress test pauses 400 ms a round; its own cases cover it.
    if (input.find("testconnect") != std::string_view::npos) {
        return 0;
    }
    const int file = memfd_create("input", MFD_CLOEXEC);
    if (file < 0 || write(file, data, size) != static_cast<ssize_t>(size) ||
        lseek(file, 0, SEEK_SET) != 0) {
        std::abort();
    }
    dup2(file, STDIN_FILENO);
    close(file);
    if (RunTunnelConsole() != 0) {
        std::abort();
    }
    uint32_t status = 0;
    if (TunnelStatusGet(0, &status) != -1) {
        std::abort();  // the run left the library started
    }
    return 0;
}
