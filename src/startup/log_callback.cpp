#include "startup/log_callback.h"

#include <string_view>

#include "console/console.h"

int32_t TUNNEL_CALL LogCallback(int32_t, const char* message) {
    if (message == nullptr) {
        return 0;
    }
    const std::string_view text(message);
    // Messages can arrive while the program waits for input: show them at once.
    ConsoleWriteNow(text);
    return static_cast<int32_t>(text.size());
}
