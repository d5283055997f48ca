// JPEG files as cameras and print workflows write them: the EXIF orientation
// (APP1), the embedded colour profile (APP2 chunks), CMYK and YCCK pixels
// (with Adobe's inverted inks), and the row path that converts decoded rows
// and writes them turned into the graphic's bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/decoding/ColorProfile.h"
#include "picture/decoding/Orientation.h"
#include "picture/jpeg/JpegDecoder_p.h"

// Asks the library to keep the APP1 and APP2 segments; before the header is read.
void SaveJpegPhotoMarkers(jpeg_decompress_struct& Info);

// The orientation of the first EXIF APP1 segment kept; orNormal without one.
TOrientation JpegOrientation(const jpeg_decompress_struct& Info);

// The embedded ICC profile assembled from its APP2 chunks in sequence order;
// empty when there is none or its chunks are incomplete or inconsistent.
std::vector<std::uint8_t> JpegIccProfile(const jpeg_decompress_struct& Info);

// A file whose pixels are inks (CMYK, or YCCK, which the library turns into CMYK).
bool JpegIsCmyk(const jpeg_decompress_struct& Info);

// Sets the decoder up for the file's colour space where the plain set-up
// cannot serve it: inks are decoded as CMYK and converted by the row path.
void AdaptJpegOutput(jpeg_decompress_struct& Info);

// Converts and places decoded rows. Rows of an upright RGB or gray picture
// without a profile are decoded straight into the bitmap (Direct); all others
// go through a strip of a few rows, converted (inks to colours, the profile to
// sRGB, colours to gray for gray output) and written where the orientation
// puts them.
class TJpegRowPath {
 public:
  // Info: the decoder after jpeg_start_decompress. Target: allocated at the
  // displayed size of the output. Transform may be null.
  TJpegRowPath(const jpeg_decompress_struct& Info, TBitmap& Target, TOrientation O,
               std::unique_ptr<TColorTransform> Transform);

  bool Direct() const { return FDirect; }
  // Reads the rest of the current output pass through the strip.
  void ReadPass(TJpegDecoder& D);
  // Converts a colour table the library made (8-bit output) through the profile.
  void ConvertTable(std::vector<std::uint32_t>& Table) const;

 private:
  // Converts a decoded row into Out when it needs converting; the row to place.
  const std::uint8_t* Convert(const std::uint8_t* Decoded, std::uint8_t* Out);

  std::unique_ptr<TColorTransform> FTransform;
  TOrientedRowWriter FWriter;
  bool FDirect;
  bool FInks;
  bool FInverted;
  bool FGrayOut;
  int FComponents;
  std::int32_t FWidth;
  std::vector<std::uint8_t> FStrip;
  // Converted rows of a strip.
  std::vector<std::uint8_t> FOut;
  std::size_t FOutRow = 0;
  bool FConverts = false;
};

// The transform from the file's embedded profile to sRGB for the output the
// decode makes (inks, gray levels or colours), or null.
std::unique_ptr<TColorTransform> JpegProfileTransform(const jpeg_decompress_struct& Info, bool EightBitOutput);
