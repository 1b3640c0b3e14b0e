// Where there is no line editor (a POSIX build without libedit), lines
// are read as text from every kind of standard input, a terminal included.
#include "console/line_editor.h"

bool LineEditorStart(ConsoleOutput) {
    return false;
}

std::optional<std::string_view> LineEditorReadLine(std::string_view,
                                                   std::span<const std::string_view>, Echo,
                                                   std::span<char>) {
    return std::nullopt;
}

bool LineEditorClearLine() {
    return false;
}
