// TMetafile: an enhanced metafile (a placeable Windows metafile is converted
// into enhanced records on load), played onto a canvas scaled to fill a rectangle.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Graphic.h"

class TMetafile : public TGraphic {
  KEST_CLASS(TMetafile)
 public:
  TMetafile();
  ~TMetafile() override;

  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Empty() const override { return false; }
  std::int32_t Height() const override { return 0; }
  std::int32_t Width() const override { return 0; }
  // Metafiles are always transparent; writing does nothing.
  bool Transparent() const override { return true; }
  void SetTransparent(bool) override {}
  void SetHeight(std::int32_t) override {}
  void SetWidth(std::int32_t) override {}
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
};
