// Pausing: Win32's Sleep on Windows, its stand-in in shared/win32_standins
// elsewhere.
#pragma once

// Pauses the calling thread for at least `milliseconds`.
void OsSleep(unsigned milliseconds);
