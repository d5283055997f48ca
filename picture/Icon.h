// TIcon: an icon file kept as its bytes and decoded on its first drawing.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Graphic.h"

class TIcon : public TGraphic {
  KEST_CLASS(TIcon)
 public:
  TIcon();
  ~TIcon() override;

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
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
  void Assign(const TPersistent* Source) override;

 private:
  std::vector<std::uint8_t> FData;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  bool FDecoded = false;
};
