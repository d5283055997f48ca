// Helpers for tests of windowed controls and the image view: pictures made in
// memory, views with an exact client size, pixels read back from the surface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QImage>
#include <QString>

#include "KestImage/KestImage.h"

// A 32-bit bitmap whose pixel (x, y) has a colour that encodes x and y, so a
// pixel read back from a window tells which picture pixel it shows.
inline std::unique_ptr<TBitmap> CoordinateBitmap(int W, int H) {
  auto B = std::make_unique<TBitmap>(W, H, pf32bit);
  for (int Y = 0; Y < H; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(Y));
    for (int X = 0; X < W; ++X)
      Row[X] = 0xFF000000u | (static_cast<std::uint32_t>(X & 0xFFF) << 12) | static_cast<std::uint32_t>(Y & 0xFFF);
  }
  return B;
}

// The picture pixel (x, y) that a CoordinateBitmap colour stands for.
inline QPoint DecodeCoordinate(std::uint32_t Pixel) {
  return QPoint(static_cast<int>((Pixel >> 12) & 0xFFF), static_cast<int>(Pixel & 0xFFF));
}

inline void SetCoordinatePicture(TCustomKestImage& V, int W, int H) {
  TPicture P;
  P.SetGraphic(CoordinateBitmap(W, H));
  V.SetPicture(&P);
}

// A view without a border whose bars stay visible (disabled when not needed),
// so its client area is exactly ClientW x ClientH whatever the picture.
inline std::unique_ptr<TKestImage> FixedClientView(int ClientW, int ClientH) {
  auto V = std::make_unique<TKestImage>(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetHideScrollBars(false);
  V->SetBounds(0, 0, ClientW + ScrollBarThickness, ClientH + ScrollBarThickness);
  return V;
}

inline std::uint32_t SurfacePixel(TWinControl& C, int X, int Y) {
  return reinterpret_cast<const std::uint32_t*>(C.ClientSurface().constScanLine(Y))[X];
}

// What direct drawing shows: the background, and the graphic stretched into
// the image rectangle.
inline QImage DirectDrawing(TCustomKestImage& V) {
  QImage Expected(V.ClientWidth(), V.ClientHeight(), QImage::Format_RGB32);
  Expected.fill(ColorToPixel(V.Color()));
  TCanvas C([&] { return &Expected; });
  StretchDrawGraphic(C, V.GetImageRect(), V.Picture()->Graphic());
  return Expected;
}

// The whole client area painted again, as the view shows it.
inline QImage RepaintAll(TCustomKestImage& V) {
  V.EraseBackground();
  V.Invalidate();
  V.Update();
  return V.ClientSurface().copy();
}

// Where two client images differ first, or nothing when they are equal.
inline std::string Difference(const QImage& A, const QImage& B) {
  if (A.size() != B.size()) return "sizes differ";
  for (int Y = 0; Y < A.height(); ++Y)
    for (int X = 0; X < A.width(); ++X)
      if (A.pixel(X, Y) != B.pixel(X, Y))
        return QString("(%1, %2): %3 against %4")
            .arg(X)
            .arg(Y)
            .arg(A.pixel(X, Y) & 0xFFFFFF, 6, 16)
            .arg(B.pixel(X, Y) & 0xFFFFFF, 6, 16)
            .toStdString();
  return "";
}
