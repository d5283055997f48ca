// The plain wheel and the side arrows over a picture larger than the view:
// they move the picture instead of stepping to another file.
#pragma once

#include "KestImage/KestImage.h"

// Scrolls the view for a wheel turn: up and down while the picture is taller
// than the view; sideways with Shift, or for a sideways turn, while it is
// wider. A touchpad's turn moves by its own pixels, a notch by a fixed
// distance. Returns whether the turn was used: a vertical turn over a picture
// that is not taller is not (it steps the files).
bool ScrollForWheel(TCustomKestImage& View, TShiftState Shift, const TControl::TWheelTurn& Turn);

// Whether the picture shows whole across the view.
bool FitsAcross(const TCustomKestImage& View);
