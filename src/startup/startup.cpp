#include "startup/startup.h"

#include <array>

#include "platform/console.h"
#include "platform/win32_calls.h"
#include "startup/command_loop.h"
#include "startup/log_callback.h"
#include "startup/tunnel_config.h"

namespace {

constexpr std::size_t kPathCapacity = 4096;
constexpr std::size_t kDeviceIdCapacity = 128;

}  // namespace

int RunTunnelConsole() {
    ConsoleInit();

    std::array<char, kPathCapacity> program_dir{};
    std::array<char, kPathCapacity> config_path{};
    GetModuleFileNameA(nullptr, program_dir.data(), kPathCapacity);
    PathRemoveFileSpecA(program_dir.data());
    PathCombineA(config_path.data(), program_dir.data(), "config.ini");

    std::array<char, kDeviceIdCapacity> device_id_text{};
    GetPrivateProfileStringA("config", "device_id", "undefined", device_id_text.data(),
                             kDeviceIdCapacity, config_path.data());

    PrepareTunnelConfig(program_dir.data());

    std::array<char, kConfigTextCapacity> config_text{};
    if (TunnelConfigGet("tunnel.cfg", config_text.data(), kConfigTextCapacity) != kTunnelOk) {
        return 0;
    }
    config_text.back() = '\0';
    SubstituteDeviceId(config_text, device_id_text.data());
    ConsolePrint("%s\n", config_text.data());

    if (TunnelStart("tunnel.cfg", config_text.data(), 0, LogCallback) != kTunnelOk) {
        return 0;
    }
    RunCommandLoop();
    TunnelStop();
    return 0;
}
