// The orientation a camera records for a picture (the EXIF orientation tag):
// reading it from an EXIF block, and turning decoded pixels so that the
// picture shows upright.
//
// Values 1..8: 1 as stored; 2 mirrored left to right; 3 turned by 180
// degrees; 4 mirrored top to bottom; 5 mirrored along the top-left to
// bottom-right diagonal; 6 turned a quarter clockwise; 7 mirrored along the
// other diagonal; 8 turned a quarter anticlockwise.
#pragma once

#include <cstdint>
#include <span>

#include "picture/Bitmap.h"

enum TOrientation : std::uint8_t {
  orNormal = 1,
  orMirrorHorizontal,
  orRotate180,
  orMirrorVertical,
  orTranspose,
  orRotate90,
  orTransverse,
  orRotate270
};

// The orientation tag of the first image directory of a TIFF-structured EXIF
// block (beginning "II*\0" or "MM\0*", optionally preceded by "Exif\0\0").
// orNormal when the block has no such tag, holds another value or is damaged:
// a bad block never raises.
TOrientation ReadExifOrientation(std::span<const std::uint8_t> Exif);

// A value read from a file as an orientation: orNormal outside 1..8.
TOrientation OrientationFromValue(std::uint32_t Value);

// Whether the orientation exchanges width and height (5..8).
inline bool SwapsAxes(TOrientation O) { return O >= orTranspose && O <= orRotate270; }

// The size a picture of stored size W x H shows at.
inline TPoint OrientedSize(TOrientation O, std::int32_t W, std::int32_t H) {
  return SwapsAxes(O) ? TPoint{H, W} : TPoint{W, H};
}

// The displayed position of the stored pixel (X, Y) of a W x H picture.
TPoint OrientedPoint(TOrientation O, std::int32_t W, std::int32_t H, std::int32_t X, std::int32_t Y);

// The displayed area covered by stored rows Top..Bottom-1 of a W x H picture
// (for progress notifications of a decode that writes turned rows).
TRect OrientedRows(TOrientation O, std::int32_t W, std::int32_t H, std::int32_t Top, std::int32_t Bottom);

// The displayed area of the stored area R of a W x H picture.
TRect OrientedArea(TOrientation O, std::int32_t W, std::int32_t H, const TRect& R);

// Writes stored rows of a decode into a bitmap that already has the displayed
// size, so that turning the picture needs no second image: rows of
// orientations 1 to 4 land in rows, those of 5 to 8 in columns.
class TOrientedRowWriter {
 public:
  // Target: 8, 24 or 32 bits per pixel, of the size OrientedSize gives for
  // the stored StoredWidth x StoredHeight.
  TOrientedRowWriter(TBitmap& Target, TOrientation O, std::int32_t StoredWidth, std::int32_t StoredHeight);

  // The target row that stored row Y may be decoded into directly, or null
  // when the orientation moves or reverses pixels within rows.
  std::uint8_t* DirectRow(std::int32_t Y);
  // Puts stored row Y (StoredWidth pixels in the target's pixel format) in place.
  void Put(std::int32_t Y, const std::uint8_t* Pixels);
  // Puts Count stored rows from Y on, Stride bytes apart. A turn by a quarter
  // then writes each displayed row's Count pixels together rather than one
  // pixel per row and stored row, which a large picture's cache would not hold.
  void PutRows(std::int32_t Y, const std::uint8_t* First, std::ptrdiff_t Stride, std::int32_t Count);

 private:
  TBitmap& FTarget;
  TOrientation FOrientation;
  std::int32_t FWidth, FHeight;
  int FBytesPerPixel;
};

// Turns a whole decoded bitmap (8, 24 or 32 bits per pixel) to its displayed
// orientation. Orientations 1 to 4 work in place; 5 to 8 need a second image
// for as long as the turn takes.
void ApplyOrientation(TBitmap& Bitmap, TOrientation O);
