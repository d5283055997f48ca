#include "toolkit/CursorReader.h"

#include <QBitmap>
#include <QImage>

namespace {

// Little-endian fields at checked offsets.
class TFields {
 public:
  explicit TFields(std::span<const std::uint8_t> B) : FBytes(B) {}
  bool Has(std::size_t Offset, std::size_t N) const { return Offset <= FBytes.size() && N <= FBytes.size() - Offset; }
  std::uint32_t U16(std::size_t O) const { return FBytes[O] | (FBytes[O + 1] << 8); }
  std::uint32_t U32(std::size_t O) const {
    return FBytes[O] | (FBytes[O + 1] << 8) | (FBytes[O + 2] << 16) | (std::uint32_t{FBytes[O + 3]} << 24);
  }
  bool Bit(std::size_t RowOffset, int X) const { return (FBytes[RowOffset + static_cast<std::size_t>(X >> 3)] >> (7 - (X & 7))) & 1; }

 private:
  std::span<const std::uint8_t> FBytes;
};

}  // namespace

std::optional<QCursor> ReadCursorFile(std::span<const std::uint8_t> Bytes) {
  const TFields F(Bytes);
  // File header: reserved, type 2 (cursor), image count; then the first entry.
  if (!F.Has(0, 22) || F.U16(0) != 0 || F.U16(2) != 2 || F.U16(4) == 0) return std::nullopt;
  const int HotX = static_cast<int>(F.U16(10)), HotY = static_cast<int>(F.U16(12));
  const std::size_t Size = F.U32(14), Offset = F.U32(18);
  if (!F.Has(Offset, Size) || !F.Has(Offset, 40)) return std::nullopt;
  const std::size_t HeaderSize = F.U32(Offset);
  const auto Width = static_cast<std::int32_t>(F.U32(Offset + 4));
  const auto DoubleHeight = static_cast<std::int32_t>(F.U32(Offset + 8));
  if (HeaderSize < 40 || F.U16(Offset + 12) != 1 || F.U16(Offset + 14) != 1) return std::nullopt;
  if (Width <= 0 || Width > 256 || DoubleHeight <= 0 || DoubleHeight > 512 || DoubleHeight % 2) return std::nullopt;
  const int Height = DoubleHeight / 2;
  std::size_t Colours = F.U32(Offset + 32);
  if (Colours == 0) Colours = 2;
  if (Colours > 2) return std::nullopt;
  const std::size_t Row = static_cast<std::size_t>((Width + 31) / 32 * 4);
  const std::size_t XorAt = Offset + HeaderSize + 4 * Colours;
  const std::size_t AndAt = XorAt + Row * static_cast<std::size_t>(Height);
  if (!F.Has(XorAt, 2 * Row * static_cast<std::size_t>(Height))) return std::nullopt;
  // Colour of index 1: white unless the table says black.
  const bool OneIsWhite = Colours < 2 || (F.U32(Offset + HeaderSize + 4) & 0xFFFFFF) != 0;
  // Bitmaps use colour 1 (black) for set bits: black shape pixels, opaque mask pixels.
  QImage Shape(Width, Height, QImage::Format_Mono), Mask(Width, Height, QImage::Format_Mono);
  for (QImage* I : {&Shape, &Mask}) {
    I->setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    I->fill(0);
  }
  for (int Y = 0; Y < Height; ++Y) {
    const std::size_t SrcRow = static_cast<std::size_t>(Height - 1 - Y);  // bottom-up
    for (int X = 0; X < Width; ++X) {
      const bool Xor = F.Bit(XorAt + SrcRow * Row, X);
      const bool And = F.Bit(AndAt + SrcRow * Row, X);
      const bool White = Xor == OneIsWhite;
      bool Black = false, Opaque = true;
      if (!And) {
        Black = !White;
      } else if (Xor) {
        Black = true;  // invert: shown black
      } else {
        Opaque = false;
      }
      Shape.setPixel(X, Y, Black ? 1 : 0);
      Mask.setPixel(X, Y, Opaque ? 1 : 0);
    }
  }
  return QCursor(QBitmap::fromImage(Shape), QBitmap::fromImage(Mask), std::min(HotX, Width - 1),
                 std::min(HotY, Height - 1));
}
