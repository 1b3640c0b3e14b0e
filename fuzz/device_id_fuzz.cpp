// The device id substitution, against a model on strings. Input: the
// configuration text, a NUL, then the device id.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "startup/tunnel_config.h"
#include "tunnel/tunnel_api.h"

namespace {

// The text after the substitution, and whether it took place.
std::pair<std::string, bool> Substituted(const std::string& text, const std::string& id) {
    const std::string item = "(DevID){";
    const std::size_t at = text.find(item);
    if (id.empty() || at == std::string::npos) {
        return {text, false};
    }
    const std::size_t value = at + item.size();
    const std::size_t brace = text.find('}', value);
    if (brace == std::string::npos || id.find_first_of("(){}") != std::string::npos) {
        return {text, false};
    }
    const std::string result = text.substr(0, value) + id + text.substr(brace);
    if (result.size() >= kConfigTextCapacity) {
        return {text, false};
    }
    return {result, true};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    if (split == std::string::npos || split >= kConfigTextCapacity) {
        return 0;
    }
    const std::string text = input.substr(0, split);
    std::string id = input.substr(split + 1);
    id = id.substr(0, std::min(id.find('\0'), std::size_t{127}));

    // Exactly the library's capacity, so a write past it is caught.
    char* config_text = static_cast<char*>(std::malloc(kConfigTextCapacity));
    std::memset(config_text, 0, kConfigTextCapacity);
    std::memcpy(config_text, text.data(), text.size());
    const DeviceIdSubstitution result =
        SubstituteDeviceId(std::span<char>(config_text, kConfigTextCapacity), id.c_str());
    const auto [expected, done] = Substituted(text, id);
    if (std::string(config_text) != expected || (result == DeviceIdSubstitution::kDone) != done) {
        std::abort();
    }
    std::free(config_text);
    return 0;
}
