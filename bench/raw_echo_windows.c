/* The least a Windows console program that echoes keys itself does, as cat
 * in raw mode is at a terminal: wait for the console's input, read its key
 * events, write each typed character back. Esc empties nothing here; it is
 * only not echoed. */
#include <windows.h>

int main(void) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (!SetConsoleMode(input, ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS)) {
        return 1;
    }
    WriteFile(output, ">", 1, &written, NULL);
    for (;;) {
        INPUT_RECORD records[32];
        DWORD got = 0;
        if (WaitForSingleObject(input, INFINITE) != WAIT_OBJECT_0 ||
            !ReadConsoleInputW(input, records, 32, &got)) {
            return 1;
        }
        for (DWORD i = 0; i < got; ++i) {
            const KEY_EVENT_RECORD* key = &records[i].Event.KeyEvent;
            const WCHAR character = key->uChar.UnicodeChar;
            if (records[i].EventType == KEY_EVENT && key->bKeyDown && character >= 0x20 &&
                character < 0x7f) {
                const char byte = (char)character;
                WriteFile(output, &byte, 1, &written, NULL);
            }
        }
    }
}
