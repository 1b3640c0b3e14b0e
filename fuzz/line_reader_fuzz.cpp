// The line reader of standard input and tunnel.cfg, against the text model:
// any bytes, any read sizes, any field capacity.
#include <cstdint>
#include <cstdlib>

#include "text/text_stream.h"
#include "text_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool pieces = (data[1] & 0x80) != 0;
    // The field, terminator included; a piece needs room for one character.
    const std::size_t capacity = (pieces ? 2 : 1) + data[0] % 63;
    MemorySource memory{std::string_view(reinterpret_cast<const char*>(data + 2), size - 2),
                        1 + static_cast<std::size_t>(data[1] & 0x7f)};
    const std::string text = model::TextOf(memory.bytes);
    TextReader reader = MakeTextReader(ReadMemory, &memory);
    // Exactly the capacity, so a write past the field is caught.
    char* field = static_cast<char*>(std::malloc(capacity));

    if (pieces) {
        for (const std::string& expected : model::PiecesOf(text, capacity - 1)) {
            const std::string_view piece = ReadTextPiece(reader, std::span<char>(field, capacity));
            if (piece != expected || field[piece.size()] != '\0') {
                std::abort();
            }
        }
        if (!ReadTextPiece(reader, std::span<char>(field, capacity)).empty()) {
            std::abort();
        }
    } else {
        for (const std::string& line : model::LinesOf(text)) {
            const auto read = ReadTextLine(reader, std::span<char>(field, capacity));
            if (!read || *read != std::string_view(line).substr(0, capacity - 1) ||
                field[read->size()] != '\0') {
                std::abort();
            }
        }
        if (ReadTextLine(reader, std::span<char>(field, capacity))) {
            std::abort();
        }
    }
    std::free(field);
    return 0;
}
