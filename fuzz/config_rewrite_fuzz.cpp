// The tunnel.cfg rewrite, against a model on strings. Input: one byte for the
// read size and whether the read ends in an error, one for the Home path's
// length, then the bytes of tunnel.cfg.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "startup/tunnel_config.h"
#include "text_model.h"

namespace {

std::string Rewritten(std::string_view bytes, const std::string& home_path) {
    const std::string item = "(Home){" + home_path + "}";
    std::string out;
    bool found = false;
    for (const std::string& piece : model::PiecesOf(model::TextOf(bytes), 1023)) {
        if (piece.find("(Home)") != std::string::npos) {
            found = true;
            out += item + (piece.back() == '\n' ? "\n" : "");
        } else {
            out += piece;
        }
    }
    if (!found) {
        out += "\n" + item;
    }
    return model::WithCrLf(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    MemorySource memory{std::string_view(reinterpret_cast<const char*>(data + 2), size - 2),
                        1 + static_cast<std::size_t>(data[0] & 0x7f) * 16, (data[0] & 0x80) != 0};
    const std::string home_path = "/h" + std::string(data[1], 'p');
    const std::string expected = Rewritten(memory.bytes, home_path);
    const bool ends_in_error = memory.fails && memory.bytes.find('\x1a') == std::string::npos;

    TextReader reader = MakeTextReader(ReadMemory, &memory);
    HomeRewrite rewrite;
    StartHomeRewrite(rewrite, reader, home_path.c_str());
    // Small buffers, so that a CR LF pair meets the buffer's end.
    std::array<char, 7> bytes;
    std::string written;
    for (std::size_t size = 0; (size = NextRewrittenBytes(rewrite, bytes)) > 0;) {
        written.append(bytes.data(), size);
    }
    if (reader.failed != ends_in_error || (!ends_in_error && written != expected)) {
        std::abort();
    }
    return 0;
}
