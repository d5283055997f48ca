// Reading bitmap files. Headers, masks and colour table are read and checked
// first; only then is the pixel buffer allocated and filled, so a file that is
// refused leaves the bitmap as it was.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "picture/Bitmap.h"
#include "picture/Dib.h"
#include "toolkit/Exceptions.h"
#include "toolkit/SysUtils.h"

namespace {

[[noreturn]] void NotValid() { throw EInvalidGraphic("Bitmap image is not valid"); }

// A bitmap file's headers, colour table and the bytes its pixels come from.
struct TBmpFile {
  TBmpInfo Info;
  std::vector<std::uint32_t> ColorTable;
  std::span<const std::uint8_t> Pixels;
};

TBmpFile ReadBmpFile(std::span<const std::uint8_t> Bytes) {
  TByteReader R(Bytes);
  const std::uint16_t Type = R.U16();
  R.Skip(8);  // file size and two reserved words: writers fill them unreliably
  const std::uint32_t PixelOffset = R.U32();
  if (Type != 0x4D42) NotValid();  // "BM"
  TBmpFile F;
  F.Info = ReadBmpInfo(R);
  if (!BmpLayoutSupported(F.Info)) NotValid();
  F.ColorTable = ReadBmpColorTable(R, F.Info);
  // Writers may leave a gap after the colour table, so the pixel offset is
  // honoured when it points inside the file past the table; an offset of 0, one
  // inside the headers or one past the end leaves the pixels right after it.
  std::size_t Start = R.Position();
  if (PixelOffset >= Start && PixelOffset < Bytes.size()) Start = PixelOffset;
  F.Pixels = BmpPixelBytes(F.Info, Bytes.subspan(Start));
  return F;
}

// No image, no colour table, default masks.
void MakeEmpty(TBitmap& B) {
  B.AllocateImage(0, 0, B.BitsPerPixel(), false);
  B.SetColorTable({});
  B.SetColorMasks(0, 0, 0);
  B.SetPaletteModified(false);
}

}  // namespace

void TBitmap::LoadFromStream(TStream& Stream) {
  // A memory stream is read in place: a load holds the file's bytes and the
  // pixel buffer, nothing more.
  std::vector<std::uint8_t> Copy;
  std::span<const std::uint8_t> Bytes;
  if (auto* M = dynamic_cast<TMemoryStream*>(&Stream)) {
    Bytes = M->RestView();
    M->Seek(0, soEnd);
  } else {
    Copy = Stream.ReadRest();
    Bytes = Copy;
  }
  if (Bytes.empty()) {
    MakeEmpty(*this);
    Changed(this);
    return;
  }
  TBmpFile F = ReadBmpFile(Bytes);
  const bool Encoded = F.Info.Encoded();
  const auto W = static_cast<std::int32_t>(F.Info.Width);
  const auto H = static_cast<std::int32_t>(F.Info.AbsHeight());
  try {
    AllocateImage(W, H, F.Info.BitsPerPixel, Encoded);
  } catch (const std::bad_alloc&) {
    MakeEmpty(*this);
    throw EOSError(Format("System Error.  Code: %d.\r\n%s", {ENOMEM, SysErrorMessage(ENOMEM)}), ENOMEM);
  }
  DecodeBmpPixels(F.Info, F.Pixels, ScanLine(0), Stride());
  // Zero masks stand for the default layouts of 16 and 32 bits.
  SetColorMasks(F.Info.Masks[0], F.Info.Masks[1], F.Info.Masks[2]);
  FPaletteModified = !F.ColorTable.empty();
  SetColorTable(std::move(F.ColorTable));
  Changed(this);
}
