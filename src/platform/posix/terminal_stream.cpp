#include "platform/posix/terminal_stream.h"

#include <array>

namespace {

void (*write_through)(std::string_view bytes) = nullptr;

// The stream's buffer: it goes out at each flush.
std::array<char, 4096> terminal_buffer;

ssize_t WriteThrough(void*, const char* bytes, std::size_t length) {
    write_through(std::string_view(bytes, length));
    return static_cast<ssize_t>(length);
}

}  // namespace

std::FILE* OpenTerminalStream(void (*write)(std::string_view bytes)) {
    write_through = write;
    std::FILE* stream = fopencookie(
        nullptr, "w", {.read = nullptr, .write = WriteThrough, .seek = nullptr, .close = nullptr});
    if (stream != nullptr &&
        std::setvbuf(stream, terminal_buffer.data(), _IOFBF, terminal_buffer.size()) != 0) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}
