// The control's 32 x 32 face in GDI: the same drawing as the Qt control's.
#pragma once

#include <windows.h>

namespace vizadavu::form {

// Where the transfer is; the face's badge shows it.
enum class Phase { Idle, Pausing, Sending, Receiving, Done, Failed };

// Draws the face into the 32 x 32 pixels at (x, y) of dc: drawn four times as
// large and scaled down with averaging, since plain GDI does not smooth edges.
void DrawFace(HDC dc, int x, int y, Phase phase);

}  // namespace vizadavu::form
