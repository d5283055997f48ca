#include "picture/icon/CursorReader.h"

#include <algorithm>

#include <QBitmap>
#include <QImage>
#include <QPixmap>

#include "picture/Bitmap.h"
#include "picture/Dib.h"
#include "picture/icon/IcoImage.h"
#include "toolkit/Exceptions.h"

namespace {

// Cursors larger than this are not cursors a screen shows.
constexpr std::int64_t MaxCursorSide = 256;

bool Bit(const std::uint8_t* Row, int X) { return (Row[X >> 3] >> (7 - (X & 7))) & 1; }

// A two-colour image: the XOR bits choose black or white, the AND bits make
// a pixel transparent (XOR clear) or inverted (XOR set).
std::optional<QCursor> TwoColorCursor(TByteReader& R, TBmpInfo Info, int HotX, int HotY) {
  const std::vector<std::uint32_t> Table = ReadBmpColorTable(R, Info);
  const auto W = static_cast<int>(Info.Width), H = static_cast<int>(Info.Height);
  const std::size_t Row = BitmapRowSize(W, 1);
  const auto Xor = R.Bytes(Row * static_cast<std::size_t>(H));
  const auto And = R.Bytes(Row * static_cast<std::size_t>(H));
  // Colour of index 1: white unless the table says black.
  const bool OneIsWhite = Table.size() < 2 || (Table[1] & 0xFFFFFF) != 0;
  // Bitmaps use colour 1 (black) for set bits: black shape pixels, opaque mask pixels.
  QImage Shape(W, H, QImage::Format_Mono), Mask(W, H, QImage::Format_Mono);
  for (QImage* I : {&Shape, &Mask}) {
    I->setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    I->fill(0);
  }
  for (int Y = 0; Y < H; ++Y) {
    const std::size_t SrcRow = static_cast<std::size_t>(H - 1 - Y) * Row;  // bottom-up
    for (int X = 0; X < W; ++X) {
      const bool XorBit = Bit(Xor.data() + SrcRow, X), AndBit = Bit(And.data() + SrcRow, X);
      bool Black = false, Opaque = true;
      if (!AndBit)
        Black = XorBit != OneIsWhite;
      else if (XorBit)
        Black = true;  // invert: shown black
      else
        Opaque = false;
      Shape.setPixel(X, Y, Black ? 1 : 0);
      Mask.setPixel(X, Y, Opaque ? 1 : 0);
    }
  }
  return QCursor(QBitmap::fromImage(Shape), QBitmap::fromImage(Mask), std::min(HotX, W - 1), std::min(HotY, H - 1));
}

}  // namespace

std::optional<QCursor> ReadCursorFile(std::span<const std::uint8_t> Bytes) {
  try {
    TByteReader R(Bytes);
    // File header: reserved, type 2 (cursor), image count; then the first entry.
    if (R.U16() != 0 || R.U16() != 2 || R.U16() == 0) return std::nullopt;
    R.Skip(4);  // width, height, colour count, reserved
    const int HotX = R.U16(), HotY = R.U16();
    const std::uint32_t Size = R.U32(), Offset = R.U32();
    TByteReader Image = R.Sub(Offset, Size);
    TByteReader Header = Image;
    TBmpInfo Info = ReadBmpInfo(Header);
    if (Info.Height % 2) return std::nullopt;
    Info.Height /= 2;  // the colour rows and the mask rows
    if (Info.Width > MaxCursorSide || Info.Height > MaxCursorSide) return std::nullopt;
    if (Info.BitsPerPixel == 1 && Info.Compression == bcRGB && !Info.TopDown()) {
      if (!BmpLayoutSupported(Info)) return std::nullopt;
      return TwoColorCursor(Header, Info, HotX, HotY);
    }
    const QImage Img = DecodeIconImage(Image.Rest());
    return QCursor(QPixmap::fromImage(Img), std::min(HotX, Img.width() - 1), std::min(HotY, Img.height() - 1));
  } catch (const Exception&) {
    return std::nullopt;
  }
}
