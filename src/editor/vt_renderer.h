// Draws the line being edited on a terminal with VT escape sequences: bytes
// out, nothing else. A line wider than the window wraps; the renderer keeps
// the row the cursor is on, so it can go back to the line's start to draw it
// again, to take it off for a message, or to leave it for the next line.
#pragma once

#include <cstddef>
#include <span>

#include "editor/editing_model.h"

struct VtScreen {
    bool drawn = false;          // the line is on the screen, as `last` shows it
    std::size_t cursor_row = 0;  // rows below the line's first
    int columns = 80;
    LineView last;
};

// Whether the screen shows `view` already, cursor included.
bool VtShows(const VtScreen& screen, const LineView& view);

// Bytes that draw `view` where the line is, in place of what is drawn.
std::size_t VtDraw(VtScreen& screen, const LineView& view, std::span<char> out);

// Bytes that take the line off, leaving the cursor where it started.
std::size_t VtErase(VtScreen& screen, std::span<char> out);

// Bytes that move past the line's end and start a new screen line.
std::size_t VtEnd(VtScreen& screen, std::span<char> out);

// A new width: where the cursor's row now is, were the line drawn anew.
void VtResize(VtScreen& screen, int columns);
