// Creates an image view, gives it a bitmap and reads back what it shows.
#include <cstdio>

#include <QApplication>

#include "KestImage/KestImage.h"

int main(int argc, char** argv) {
  QApplication App(argc, argv);
  InitializeKestImageUnit();
  TKestImage View(nullptr);
  View.SetBounds(0, 0, 200, 150);
  auto Bitmap = std::make_unique<TBitmap>(100, 80, pf24bit);
  Bitmap->Canvas().Brush().Color = clRed;
  Bitmap->Canvas().FillRect(TRect{0, 0, 100, 80});
  TPicture Picture;
  Picture.SetGraphic(std::move(Bitmap));
  View.SetPicture(&Picture);
  View.Update();
  const QRgb Shown = View.ClientSurface().pixel(10, 10);
  std::printf("pixel (10, 10): %06x\n", Shown & 0xFFFFFF);
  return (Shown & 0xFFFFFF) == 0xFF0000 ? 0 : 1;
}
