// Conversion of a Windows metafile (the records after a placeable header) into
// enhanced metafile records, so that one player draws both kinds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct TPlaceableHeader {
  std::int16_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // bounding box in metafile units
  std::uint16_t Inch = 0;                                  // metafile units per inch
};

// Builds an enhanced metafile whose frame is MMWidth x MMHeight (0.01 mm) and
// whose window is the bounding box, mapped anisotropically onto it. Records
// that are damaged end the conversion; what came before them is kept. Raises
// EInvalidGraphic "Metafile is not valid" when the Windows metafile header is
// not sound.
std::vector<std::uint8_t> ConvertWmfToEmf(std::span<const std::uint8_t> Wmf, const TPlaceableHeader& Header,
                                          std::int32_t MMWidth, std::int32_t MMHeight);
