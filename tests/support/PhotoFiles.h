// Pieces of photographs as cameras and editors write them, built in the tests:
// EXIF blocks with an orientation tag and colour profiles made with Little CMS.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <lcms2.h>

// A TIFF-structured EXIF block whose first directory holds the orientation
// tag (a SHORT of value Orientation), alone or with OthersFirst after the
// camera's make (text at an offset), model (text in the entry) and resolution
// (a fraction at an offset); with Prefix it starts with "Exif\0\0" as in a
// JPEG APP1 segment.
inline std::vector<std::uint8_t> MakeExif(int Orientation, bool BigEndian, bool Prefix, bool OthersFirst = false) {
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
  U16(OthersFirst ? 4 : 1);
  if (OthersFirst) {
    // The values at offsets follow the directory: 8 + 2 + 4 * 12 + 4 = 62.
    auto Entry = [&](std::uint16_t Tag, std::uint16_t Type, std::uint32_t Count, std::uint32_t Value) {
      U16(Tag), U16(Type), U32(Count), U32(Value);
    };
    Entry(0x010F, 2, 6, 62);  // make "Maker\0"
    Entry(0x0110, 2, 4, 0);   // model
    std::memcpy(&B[B.size() - 4], "Cam", 4);
    Entry(0x011A, 5, 1, 68);  // resolution
  }
  U16(0x0112);  // orientation
  U16(3);       // SHORT
  U32(1);
  U16(static_cast<std::uint16_t>(Orientation));
  U16(0);
  U32(0);  // no further directory
  if (OthersFirst) {
    B.insert(B.end(), {'M', 'a', 'k', 'e', 'r', 0});
    U32(72), U32(1);
  }
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

// A CMYK profile (ink amounts, 0 = no ink) whose colours are those of the
// plain conversion with cyan and yellow exchanged: cyan ink through it is
// yellow. A 2-point table per ink, so pure inks and their mixes come out
// exact and only shades between are interpolated.
inline std::vector<std::uint8_t> MakeSwappedInksProfile() {
  cmsHPROFILE Srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE Lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM ToLab = cmsCreateTransform(Srgb, TYPE_RGB_8, Lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsStage* Table = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
  cmsStageSampleCLut16bit(
      Table,
      [](const cmsUInt16Number In[], cmsUInt16Number Out[], void* Cargo) -> cmsInt32Number {
        auto Ink = [&](int K) { return static_cast<std::uint32_t>(In[K] >> 8); };
        auto Channel = [&](std::uint32_t I) { return static_cast<std::uint8_t>((255 - I) * (255 - Ink(3)) / 255); };
        const std::uint8_t Rgb[3] = {Channel(Ink(2)), Channel(Ink(1)), Channel(Ink(0))};
        cmsDoTransform(static_cast<cmsHTRANSFORM>(Cargo), Rgb, Out, 1);
        return 1;
      },
      ToLab, 0);
  cmsPipeline* Pipe = cmsPipelineAlloc(nullptr, 4, 3);
  cmsPipelineInsertStage(Pipe, cmsAT_BEGIN, Table);
  cmsHPROFILE P = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(P, 2.1);
  cmsSetDeviceClass(P, cmsSigOutputClass);
  cmsSetColorSpace(P, cmsSigCmykData);
  cmsSetPCS(P, cmsSigLabData);
  cmsWriteTag(P, cmsSigAToB0Tag, Pipe);
  cmsWriteTag(P, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(Pipe);
  cmsDeleteTransform(ToLab);
  cmsCloseProfile(Lab);
  cmsCloseProfile(Srgb);
  return SaveProfile(P);
}
