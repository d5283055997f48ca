#include "picture/decoding/FrameCompositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Every alpha of a blended frame over every grey of an opaque one, against a
// float reference; the canvas stays opaque throughout.
TEST(FrameCompositor, BlendsOverAnOpaqueCanvasExactly) {
  TBitmap Canvas;
  TFrameCompositor C;
  C.Start(Canvas, 256, 1);
  EXPECT_FALSE(C.Opaque());
  std::vector<std::uint32_t> Below(256), Above(256);
  for (std::uint32_t X = 0; X < 256; ++X) {
    Below[X] = 0xFF000000u | X * 0x010101u;
    const std::uint32_t A = X * 7 % 254 + 1, S = A / 2;
    Above[X] = A << 24 | S * 0x010101u;
  }
  TFrameInfo Whole;
  Whole.Rect = Rect(0, 0, 256, 1);
  C.BeginFrame(Whole);
  C.PutRow(0, Below.data(), false);
  C.EndFrame();
  EXPECT_TRUE(C.Opaque());
  C.BeginFrame(Whole);
  C.PutRow(0, Above.data());
  C.EndFrame();
  EXPECT_TRUE(C.Opaque());
  int Wrong = 0;
  for (std::uint32_t X = 0; X < 256; ++X) {
    const std::uint32_t A = Above[X] >> 24, S = Above[X] & 0xFF;
    const auto Want = static_cast<std::uint32_t>(S + std::lround(X * (255.0 - A) / 255.0));
    Wrong += reinterpret_cast<const std::uint32_t*>(Canvas.ScanLine(0))[X] != (0xFF000000u | Want * 0x010101u);
  }
  EXPECT_EQ(Wrong, 0);
}

}  // namespace
