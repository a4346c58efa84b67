// Real input, as the system's input queue receives it from a mouse and a keyboard (SendInput).
#pragma once

#include <windows.h>

namespace e2e {

enum class MouseButton { Left, Right };

// Moves the pointer to the screen point and clicks; with control, the Ctrl key is held meanwhile.
void ClickAt(POINT screen, MouseButton button, bool control = false);
// Presses and releases a virtual key.
void PressKey(WORD vk);
// The centre of a screen rectangle, a few pixels in from the left (a list row's first cell).
POINT RowPoint(const RECT& row);

}  // namespace e2e
