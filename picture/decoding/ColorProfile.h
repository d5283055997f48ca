// Conversion of pixels from an embedded colour profile (ICC) to sRGB, the
// colours the screen is taken to show. Decoders build one transform per
// picture and convert each row once as it is decoded; drawing never converts.
// A picture without a profile is left as it is, and a profile that cannot be
// used (damaged, of another colour space than the pixels) is ignored: the
// picture then shows unconverted.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// The pixel layouts a transform reads. Output is always 8-bit sRGB in the
// bitmap's own byte order: blue, green, red (24 bits) or blue, green, red,
// alpha (32 bits, alpha copied unchanged).
enum TProfilePixels : std::uint8_t {
  ppBGR8,      // 24-bit bitmap rows, converted in place
  ppBGRA8,     // 32-bit bitmap rows with alpha, converted in place
  ppGray8,     // one gray byte per pixel, to blue, green, red
  ppCMYK8,     // ink amounts, 0 = no ink
  ppCMYK8Inverted,  // ink amounts stored inverted, 255 = no ink (as Adobe writes them)
};

class TColorTransform {
 public:
  ~TColorTransform();
  TColorTransform(const TColorTransform&) = delete;
  TColorTransform& operator=(const TColorTransform&) = delete;

  // A transform from the profile Icc to sRGB for pixels of the given layout;
  // null when Icc is empty, is not a usable profile, or describes another
  // colour space than the pixels have.
  static std::unique_ptr<TColorTransform> ToSrgb(std::span<const std::uint8_t> Icc, TProfilePixels Input);

  // Converts Count pixels of In (in the transform's layout) to Out. For
  // ppBGR8 and ppBGRA8 In and Out may be the same row.
  void Convert(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count) const;
  // Converts a colour table (0x00RRGGBB entries) in place; for RGB and gray profiles.
  void ConvertTable(std::vector<std::uint32_t>& Table) const;

  TProfilePixels Input() const { return FInput; }
  // The output's bytes per pixel: 4 for ppBGRA8, 3 otherwise.
  int OutputBytes() const { return FInput == ppBGRA8 ? 4 : 3; }

 private:
  TColorTransform(void* Transform, void* TableTransform, TProfilePixels Input)
      : FTransform(Transform), FTableTransform(TableTransform), FInput(Input) {}

  void* FTransform;       // cmsHTRANSFORM
  void* FTableTransform;  // cmsHTRANSFORM for colour tables, or null
  TProfilePixels FInput;
};

// Converts CMYK pixels without a profile: red = (255 - C) x (255 - K) / 255 and
// likewise green from M and blue from Y, written as blue, green, red. Inverted
// input (255 = no ink) is read as such.
void CmykToBgr(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count, bool Inverted);
