#include "platform/posix/key_sequences.h"

namespace {

constexpr KeyBinding kKeyBindings[] = {
    {"\033[1~", "ed-move-to-beg"},      {"\033[7~", "ed-move-to-beg"},
    {"\033[H", "ed-move-to-beg"},       {"\033OH", "ed-move-to-beg"},
    {"\033[4~", "ed-move-to-end"},      {"\033[8~", "ed-move-to-end"},
    {"\033[F", "ed-move-to-end"},       {"\033OF", "ed-move-to-end"},
    {"\033[3~", "ed-delete-next-char"}, {"\033[1;5C", "em-next-word"},
    {"\033[1;3C", "em-next-word"},      {"\033[1;5D", "ed-prev-word"},
    {"\033[1;3D", "ed-prev-word"},      {"\033[2~", "tc-nothing"},
    {"\033[5~", "tc-nothing"},          {"\033[6~", "tc-nothing"},
    {"\033OP", "tc-nothing"},           {"\033OQ", "tc-nothing"},
    {"\033OR", "tc-nothing"},           {"\033OS", "tc-nothing"},
    {"\033[11~", "tc-nothing"},         {"\033[12~", "tc-nothing"},
    {"\033[13~", "tc-nothing"},         {"\033[14~", "tc-nothing"},
    {"\033[15~", "tc-nothing"},         {"\033[17~", "tc-nothing"},
    {"\033[18~", "tc-nothing"},         {"\033[19~", "tc-nothing"},
    {"\033[20~", "tc-nothing"},         {"\033[21~", "tc-nothing"},
    {"\033[23~", "tc-nothing"},         {"\033[24~", "tc-nothing"},
    {"\033[[A", "tc-nothing"},          {"\033[[B", "tc-nothing"},
    {"\033[[C", "tc-nothing"},          {"\033[[D", "tc-nothing"},
    {"\033[[E", "tc-nothing"},
};

}  // namespace

std::span<const KeyBinding> ExtraKeyBindings() {
    return kKeyBindings;
}

bool InSequence(Sequence& sequence, wchar_t key) {
    switch (sequence) {
        case Sequence::kNone:
            if (key != 0x1b) {
                return false;
            }
            sequence = Sequence::kEscape;
            return true;
        case Sequence::kEscape:
            sequence = key == L'['   ? Sequence::kControl
                       : key == L'O' ? Sequence::kOneMore
                                     : Sequence::kNone;
            return true;
        case Sequence::kControl:
            if (key >= 0x40 && key <= 0x7e) {
                sequence = Sequence::kNone;
            }
            return true;
        case Sequence::kOneMore:
            sequence = Sequence::kNone;
            return true;
    }
    return false;
}
