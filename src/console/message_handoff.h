// Messages that other threads print while the main thread edits a line: they
// are handed to it, and it alone writes them, with the line taken off the
// screen first and drawn again after. The hand-off holds a bounded number of
// bytes; a thread whose message finds no room waits until the main thread
// has written what is there, which it does as soon as it is woken, never
// waiting for a key. So no message is lost, reordered or torn. A message
// longer than the whole hand-off goes in parts, and the line is not drawn
// between them.
#pragma once

#include <mutex>
#include <string_view>

#include "console/output_buffer.h"

// Called with the output lock held in `lock`, while `editing()` says a line is
// edited: adds `text` (and a line break when it has none, as a message takes
// lines of its own) and wakes the main thread with `wake`. Waits for room,
// letting the lock go meanwhile; returns false, having added nothing or only
// the parts before, when the line is no longer edited by then: the rest is
// to be written at once.
bool HandOffMessage(std::unique_lock<OutputLock>& lock, std::string_view& text, bool (*editing)(),
                    void (*wake)());

// The main thread, with the output lock held: the bytes handed off, whether
// the last message is whole, and emptying the hand-off once they are
// written, which lets waiting threads go on.
std::string_view HandedOffBytes();
bool HandedOffWhole();
void HandedOffWritten();
