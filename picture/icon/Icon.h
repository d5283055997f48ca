// TIcon: an icon file kept as its bytes and decoded on its first drawing.
#pragma once

#include <cstdint>
#include <span>

#include <cstdint>
#include <vector>

#include <QImage>

#include "picture/Graphic.h"

class TIcon : public TGraphic {
  KEST_CLASS(TIcon)
 public:
  // Whether a file's first bytes are the start of icon data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TIcon();
  ~TIcon() override;

  // Draws the icon at its own size at R's top-left corner, through its
  // transparency; R's size is not used. The first drawing decodes the icon;
  // when that fails it raises, and later drawings draw nothing and raise
  // nothing until the icon gets new data.
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Empty() const override { return FData.empty(); }
  // The chosen image's size once decoded; the standard icon size (32) before.
  std::int32_t Height() const override;
  std::int32_t Width() const override;
  // Icons are always transparent; writing does nothing.
  bool Transparent() const override { return true; }
  void SetTransparent(bool) override {}
  void SetHeight(std::int32_t) override;
  void SetWidth(std::int32_t) override;
  // The stored data is the icon file up to the end of the stream; none stands
  // for an empty icon.
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // Keeps the file's bytes and checks only its 6-byte header.
  void LoadFromStream(TStream& Stream) override;
  // Takes the file's bytes over.
  void LoadFromFileBytes(TFileBytes&& Bytes) override;
  void SaveToStream(TStream& Stream) const override;
  void Assign(const TPersistent* Source) override;

 private:
  // Chooses the image that suits the screen best and decodes it into FImage.
  void Decode();
  // Holds Data, whose header is checked, in place of the previous bytes.
  void Hold(TFileBytes&& Data);

  TFileBytes FData;
  // The decoded image (premultiplied ARGB); null until the first drawing.
  QImage FImage;
  // The first drawing failed to build the image; it is not tried again.
  bool FBroken = false;
};
