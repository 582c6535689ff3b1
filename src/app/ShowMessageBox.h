#pragma once

#include <cstdint>

// Modal box with an OK button: kind 0 "Information", 1 "Warning", 2 "Error".
// The text is printf-style and cut to 1023 bytes (room for a file path on
// a second line). Callable from any
// thread: a worker waits until the box is dismissed on the window thread, and
// returns at once when the program is closing.
void ShowMessageBox(int16_t kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
