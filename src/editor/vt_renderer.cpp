#include "editor/vt_renderer.h"

#include <charconv>
#include <string_view>

namespace {

struct Out {
    std::span<char> room;
    std::size_t length = 0;

    void Add(std::string_view bytes) {
        length += bytes.copy(room.data() + length, room.size() - length);
    }
    // ESC [ count letter, for a count above 0.
    void Move(std::size_t count, char letter) {
        if (count == 0) {
            return;
        }
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
        Add("\x1b[");
        Add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
        Add(std::string_view(&letter, 1));
    }
};

std::size_t Columns(const VtScreen& screen) {
    return screen.columns > 0 ? static_cast<std::size_t>(screen.columns) : 80;
}

// The row the text's end leaves the cursor on: text that fills its last row
// is followed by a line break, so the cursor has a cell to be in.
std::size_t EndRow(const VtScreen& screen, const LineView& view) {
    return view.cells / Columns(screen);
}

void ToStart(const VtScreen& screen, Out& out) {
    out.Add("\r");
    out.Move(screen.cursor_row, 'A');
}

}  // namespace

bool VtShows(const VtScreen& screen, const LineView& view) {
    return screen.drawn && screen.last.cursor == view.cursor && screen.last.Text() == view.Text();
}

std::size_t VtDraw(VtScreen& screen, const LineView& view, std::span<char> room) {
    Out out{room};
    const std::size_t columns = Columns(screen);
    const LineView& last = screen.last;
    if (VtShows(screen, view)) {
        return 0;
    }
    // Typed at the end, as most keys are: only what was added goes out.
    // With rows ended explicitly, a full row's line break is the view's.
    if (screen.drawn && last.cursor == last.cells && view.cursor == view.cells &&
        view.Text().starts_with(last.Text()) && view.cells / columns == last.cells / columns &&
        view.cells % columns != 0 && !(view.explicit_rows && last.cells % columns == 0)) {
        out.Add(view.Text().substr(last.length));
    } else {
        // Drawn over the old line, whose rest is cleared; a line drawn anew
        // has nothing after it.
        const bool over = screen.drawn;
        if (over) {
            ToStart(screen, out);
        }
        out.Add(view.Text());
        if (view.cells > 0 && view.cells % columns == 0) {
            out.Add("\r\n");
        }
        if (over) {
            out.Add("\x1b[J");
        }
        if (view.cursor != view.cells) {
            out.Move(EndRow(screen, view) - view.cursor / columns, 'A');
            out.Add("\r");
            if (view.explicit_rows) {
                // The terminal puts the cursor after the row's clusters,
                // however many cells it drew them in.
                out.Add(view.Text().substr(view.cursor_row_start,
                                           view.cursor_byte - view.cursor_row_start));
            } else {
                out.Move(view.cursor % columns, 'C');
            }
        }
    }
    screen.cursor_row = view.cursor / columns;
    screen.drawn = true;
    screen.last.length = view.Text().copy(screen.last.bytes.data(), screen.last.bytes.size());
    screen.last.cells = view.cells;
    screen.last.cursor = view.cursor;
    return out.length;
}

std::size_t VtErase(VtScreen& screen, std::span<char> room) {
    Out out{room};
    if (screen.drawn) {
        ToStart(screen, out);
        out.Add("\x1b[J");
    }
    screen.drawn = false;
    screen.cursor_row = 0;
    return out.length;
}

std::size_t VtEnd(VtScreen& screen, std::span<char> room) {
    Out out{room};
    if (screen.drawn) {
        const std::size_t end_row = EndRow(screen, screen.last);
        out.Move(end_row - screen.cursor_row, 'B');
        // A line that filled its last row has a line break after it already.
        if (screen.last.cells == 0 || screen.last.cells % Columns(screen) != 0) {
            out.Add("\r\n");
        } else {
            out.Add("\r");
        }
    }
    screen.drawn = false;
    screen.cursor_row = 0;
    return out.length;
}

void VtResize(VtScreen& screen, int columns) {
    screen.columns = columns > 0 ? columns : 80;
    if (!screen.drawn) {
        return;
    }
    screen.cursor_row = screen.last.cursor / Columns(screen);
    // Drawn again whole, the cursor found anew.
    screen.last.length = 0;
    screen.last.cursor = static_cast<std::size_t>(-1);
}
