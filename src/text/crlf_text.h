// Constant texts with every LF made CR LF when the program is compiled, so a
// print of one copies its bytes as they stand.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

// Bytes whose line breaks are CR LF already.
struct CrlfText {
    std::string_view bytes;
};

// A piece of a print: text whose LFs go out as CR LF, or bytes whose line
// breaks are CR LF already, copied as they stand.
struct PrintPiece {
    std::string_view bytes;
    bool crlf_already = false;
    constexpr PrintPiece(std::string_view text) : bytes(text) {}
    constexpr PrintPiece(const char* text) : bytes(text) {}
    constexpr PrintPiece(CrlfText text) : bytes(text.bytes), crlf_already(true) {}
};

// A string literal as a template argument.
template <std::size_t Size>
struct TextLiteral {
    std::array<char, Size> text{};
    consteval TextLiteral(const char (&literal)[Size]) { std::copy_n(literal, Size, text.begin()); }
    constexpr std::string_view view() const { return std::string_view(text.data(), Size - 1); }
};

// `text` with every LF as CR LF, into `out`, which holds exactly that.
template <std::size_t Size>
constexpr std::array<char, Size> ToCrlf(std::string_view text) {
    std::array<char, Size> out{};
    std::size_t length = 0;
    for (const char c : text) {
        if (c == '\n') {
            out[length++] = '\r';
        }
        out[length++] = c;
    }
    return out;
}

constexpr std::size_t CrlfSize(std::string_view text) {
    return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

template <TextLiteral literal>
inline constexpr auto kCrlfBytes = ToCrlf<CrlfSize(literal.view())>(literal.view());

// The literal's bytes with CR LF line breaks, made when compiled.
template <TextLiteral literal>
constexpr CrlfText Crlf() {
    return {std::string_view(kCrlfBytes<literal>.data(), kCrlfBytes<literal>.size())};
}
