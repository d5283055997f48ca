// Pieces of photographs as cameras and editors write them, built in the tests:
// EXIF blocks with an orientation tag and colour profiles made with Little CMS.
#pragma once

#include <cstdint>
#include <vector>

#include <lcms2.h>

// A TIFF-structured EXIF block whose first directory holds only the
// orientation tag (a SHORT of value Orientation); with Prefix it starts with
// "Exif\0\0" as in a JPEG APP1 segment.
inline std::vector<std::uint8_t> MakeExif(int Orientation, bool BigEndian, bool Prefix) {
  std::vector<std::uint8_t> B;
  if (Prefix) B = {'E', 'x', 'i', 'f', 0, 0};
  auto U16 = [&](std::uint16_t V) {
    if (BigEndian) {
      B.push_back(static_cast<std::uint8_t>(V >> 8));
      B.push_back(static_cast<std::uint8_t>(V));
    } else {
      B.push_back(static_cast<std::uint8_t>(V));
      B.push_back(static_cast<std::uint8_t>(V >> 8));
    }
  };
  auto U32 = [&](std::uint32_t V) {
    if (BigEndian) {
      U16(static_cast<std::uint16_t>(V >> 16));
      U16(static_cast<std::uint16_t>(V));
    } else {
      U16(static_cast<std::uint16_t>(V));
      U16(static_cast<std::uint16_t>(V >> 16));
    }
  };
  B.push_back(BigEndian ? 'M' : 'I');
  B.push_back(BigEndian ? 'M' : 'I');
  U16(42);
  U32(8);
  U16(1);       // one entry
  U16(0x0112);  // orientation
  U16(3);       // SHORT
  U32(1);
  U16(static_cast<std::uint16_t>(Orientation));
  U16(0);
  U32(0);  // no further directory
  return B;
}

inline std::vector<std::uint8_t> SaveProfile(cmsHPROFILE P) {
  cmsUInt32Number Size = 0;
  cmsSaveProfileToMem(P, nullptr, &Size);
  std::vector<std::uint8_t> Bytes(Size);
  cmsSaveProfileToMem(P, Bytes.data(), &Size);
  cmsCloseProfile(P);
  return Bytes;
}

// An RGB profile with the sRGB tone curve whose red and blue primaries are
// those of sRGB's blue and red: pure red in it is sRGB's pure blue.
inline std::vector<std::uint8_t> MakeSwappedPrimariesProfile() {
  cmsCIExyY White;
  cmsWhitePointFromTemp(&White, 6504);
  const cmsCIExyYTRIPLE Primaries = {{0.1500, 0.0600, 1.0}, {0.3000, 0.6000, 1.0}, {0.6400, 0.3300, 1.0}};
  const cmsFloat64Number Params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* Curve = cmsBuildParametricToneCurve(nullptr, 4, Params);
  cmsToneCurve* Curves[3] = {Curve, Curve, Curve};
  std::vector<std::uint8_t> Bytes = SaveProfile(cmsCreateRGBProfile(&White, &Primaries, Curves));
  cmsFreeToneCurve(Curve);
  return Bytes;
}

inline std::vector<std::uint8_t> MakeSrgbProfile() { return SaveProfile(cmsCreate_sRGBProfile()); }

inline std::vector<std::uint8_t> MakeGrayProfile() {
  cmsToneCurve* Curve = cmsBuildGamma(nullptr, 2.2);
  std::vector<std::uint8_t> Bytes = SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), Curve));
  cmsFreeToneCurve(Curve);
  return Bytes;
}
