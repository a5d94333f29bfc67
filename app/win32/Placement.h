// Where the main window sits: the bottom right corner of the screen, just above the taskbar.
#pragma once

#include <windows.h>

namespace vq::win {

// Moves the window (with repaint, size kept) so that its right edge touches the screen's and its
// bottom edge the top of a taskbar at the bottom; without a taskbar the gap is one caption height.
void PlaceWindowBottomRight(HWND window);

}  // namespace vq::win
