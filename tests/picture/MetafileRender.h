// Plays metafiles onto bitmaps for the tests and reads their pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "picture/Bitmap.h"
#include "picture/metafile/Metafile.h"

inline std::unique_ptr<TMetafile> LoadMetafile(const std::vector<std::uint8_t>& Bytes) {
  auto M = std::make_unique<TMetafile>();
  M->LoadFromBytes(Bytes);
  return M;
}

// The picture drawn into R of a white surface of W x H pixels.
inline QImage RenderInto(const TMetafile& M, int W, int H, const TRect& R) {
  TBitmap B(W, H);
  B.Canvas().StretchDraw(R, const_cast<TMetafile*>(&M));
  return B.Canvas().Surface()->copy();
}

inline QImage Render(const std::vector<std::uint8_t>& Bytes, int W = 100, int H = 100) {
  return RenderInto(*LoadMetafile(Bytes), W, H, TRect{0, 0, W, H});
}

// The pixel as 0xRRGGBB.
inline std::uint32_t Px(const QImage& I, int X, int Y) { return I.pixel(X, Y) & 0xFFFFFF; }
