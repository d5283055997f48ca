// Image lists: equally sized small images, such as tool-bar glyphs, kept in
// one strip and addressed by index.
#pragma once

#include <vector>

#include <QImage>

#include "toolkit/Classes.h"

class TImageList : public TComponent {
  KEST_CLASS(TImageList)
 public:
  explicit TImageList(TComponent* AOwner);

  int Width() const { return FWidth; }
  void SetWidth(int W) { FWidth = W; }
  int Height() const { return FHeight; }
  void SetHeight(int H) { FHeight = H; }
  int Count() const { return static_cast<int>(FImages.size()); }
  // The image at Index (32-bit with alpha), or a null image outside the list.
  QImage Image(int Index) const;
  // Appends an image, scaled to the list's size when it differs.
  void Add(const QImage& Image);
  void Clear() { FImages.clear(); }

  // All images side by side in one strip, as PNG bytes (the stored form).
  std::vector<std::uint8_t> StripPng() const;
  // Replaces the images by those cut from a strip (PNG or any format Qt reads);
  // raises EReadError when the bytes are no image.
  void SetStripPng(const std::vector<std::uint8_t>& Bytes);

 protected:
  void DefineProperties(TPropList& L) const override;

 private:
  int FWidth = 16;
  int FHeight = 16;
  std::vector<QImage> FImages;
};

void RegisterImgListClasses();
