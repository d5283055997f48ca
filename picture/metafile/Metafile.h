// TMetafile: an enhanced metafile (a placeable Windows metafile is converted
// into enhanced records on load), played onto a canvas scaled to fill a rectangle.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "picture/Graphic.h"

class TMetafile : public TGraphic {
  KEST_CLASS(TMetafile)
 public:
  // Whether a file's first bytes are the start of enhanced or placeable metafile data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TMetafile();
  ~TMetafile() override;

  // Plays the records scaled so that the frame fills R with inclusive bounds
  // (R.Left, R.Top, R.Right - 1, R.Bottom - 1).
  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Equals(const TGraphic* Other) const override;
  // A metafile object is never empty; one without records draws nothing.
  bool Empty() const override { return false; }
  std::int32_t Height() const override;
  HPALETTE Palette() const override { return FPalette.get(); }
  std::int32_t Width() const override;
  // Stored data: a 32-bit length that counts its own four bytes, then the file.
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  // Metafiles are always transparent and keep their own size; these writes do nothing.
  bool Transparent() const override { return true; }
  void SetTransparent(bool) override {}
  void SetHeight(std::int32_t) override {}
  void SetWidth(std::int32_t) override {}
  // Reads an enhanced or a placeable Windows metafile, told apart by content.
  void LoadFromStream(TStream& Stream) override;
  // Writes the file as it was loaded.
  void SaveToStream(TStream& Stream) const override;
  void Assign(const TPersistent* Source) override;

  // Loads from bytes in memory (what LoadFromStream does with the stream's rest).
  void LoadFromBytes(std::span<const std::uint8_t> Bytes);

  // The logical size in 0.01 mm.
  std::int32_t MMWidth() const { return FMMWidth; }
  std::int32_t MMHeight() const { return FMMHeight; }
  // Units per inch of a placeable metafile as its header gives them; 0 for an
  // enhanced metafile.
  std::uint16_t Inch() const { return FInch; }
  bool Enhanced() const { return FEnhanced; }
  // The enhanced records that playback reads (converted ones for a Windows metafile).
  std::span<const std::uint8_t> EnhancedBytes() const;

 private:
  void LoadEnhanced(std::span<const std::uint8_t> Bytes);
  void LoadPlaceable(std::span<const std::uint8_t> Bytes);
  void ReadHeaderValues();
  void Clear();

  std::vector<std::uint8_t> FSource;    // the file as loaded, for saving
  std::vector<std::uint8_t> FConverted; // enhanced records of a Windows metafile
  bool FEnhanced = true;
  std::int32_t FMMWidth = 0;
  std::int32_t FMMHeight = 0;
  std::uint16_t FInch = 0;
  // Reference device of the enhanced header: pixels and millimetres.
  std::int32_t FDevicePx[2] = {0, 0};
  std::int32_t FDeviceMM[2] = {0, 0};
  std::unique_ptr<TPalette> FPalette;
};

// a * b / c with a 128-bit intermediate, rounded to nearest with halves away
// from zero and limited to the 32-bit range; 0 when c is 0.
std::int32_t MulDivRound(std::int64_t A, std::int64_t B, std::int64_t C);
