#include "viewer/WheelScroll.h"

#include <algorithm>
#include <cmath>

namespace {

// The distance of one notch (120 units), in logical pixels: three lines of text.
constexpr int NotchPixels = 60;

// The distance in device pixels that a turn gives on one axis, positive
// towards the start of the picture.
std::int64_t Distance(int Pixels, int Angle, double Ratio) {
  const double Logical = Pixels != 0 ? Pixels : Angle * NotchPixels / 120.0;
  return std::llround(Logical * Ratio);
}

}  // namespace

bool FitsAcross(const TCustomKestImage& View) { return View.MaxOffset().X <= 0; }

bool ScrollForWheel(TCustomKestImage& View, TShiftState Shift, const TControl::TWheelTurn& Turn) {
  const TPoint Max = View.MaxOffset();
  const double Ratio = View.ClientPixelRatio();
  TPoint Angle = Turn.Angle, Pixels = Turn.Pixels;
  // Shift turns the wheel sideways (where the system has not done so already).
  if (Shift.Contains(ssShift) && Angle.X == 0 && Pixels.X == 0) {
    Angle = TPoint{Angle.Y, 0};
    Pixels = TPoint{Pixels.Y, 0};
  }
  const bool Sideways = Angle.X != 0 || Pixels.X != 0;
  // A sideways turn never steps files, whether or not there is room to move.
  if (Sideways ? Max.X <= 0 : Max.Y <= 0) return Sideways;
  const TPoint O = View.Offset();
  const std::int64_t X = O.X - (Sideways ? Distance(Pixels.X, Angle.X, Ratio) : 0);
  const std::int64_t Y = O.Y - (Sideways ? 0 : Distance(Pixels.Y, Angle.Y, Ratio));
  // ScrollTo holds the offset within the scroll range.
  const auto Hold = [](std::int64_t V) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(V, -(1 << 30), 1 << 30));
  };
  View.ScrollTo(TPoint{Hold(X), Hold(Y)});
  return true;
}
