// Reading bitmap files. Headers, masks and colour table are read and checked
// first; only then is the pixel buffer allocated and filled, so a file that is
// refused leaves the bitmap as it was.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

#include "picture/Bitmap.h"
#include "picture/Dib.h"
#include "toolkit/Exceptions.h"
#include "toolkit/ReadOnlyFile.h"
#include "toolkit/SysUtils.h"

namespace {

[[noreturn]] void NotValid() { throw EInvalidGraphic("Bitmap image is not valid"); }

// A bitmap file's headers, colour table and where its pixels start.
struct TBmpFile {
  TBmpInfo Info;
  std::vector<std::uint32_t> ColorTable;
  std::uint64_t PixelStart = 0;
};

// Reads the headers from Head, the first bytes of a file of FileSize bytes.
TBmpFile ReadBmpHeaders(std::span<const std::uint8_t> Head, std::uint64_t FileSize) {
  TByteReader R(Head);
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
  F.PixelStart = R.Position();
  if (PixelOffset >= F.PixelStart && PixelOffset < FileSize) F.PixelStart = PixelOffset;
  return F;
}

// No image, no colour table, default masks.
void MakeEmpty(TBitmap& B) {
  B.AllocateImage(0, 0, B.BitsPerPixel(), false);
  B.SetColorTable({});
  B.SetColorMasks(0, 0, 0);
  B.SetPaletteModified(false);
}

// A pixel buffer for the picture; EOSError (code 12) and an empty bitmap
// without memory for it. Encoded rows are zero-filled first.
void AllocateBmpImage(TBitmap& B, const TBmpInfo& Info) {
  try {
    B.AllocateImage(static_cast<std::int32_t>(Info.Width), static_cast<std::int32_t>(Info.AbsHeight()),
                    Info.BitsPerPixel, Info.Encoded());
  } catch (const std::bad_alloc&) {
    MakeEmpty(B);
    throw EOSError(Format("System Error.  Code: %d.\r\n%s", {ENOMEM, SysErrorMessage(ENOMEM)}), ENOMEM);
  }
}

// The masks and colour table once the pixels are in.
void FinishBmpLoad(TBitmap& B, TBmpFile& F) {
  // Zero masks stand for the default layouts of 16 and 32 bits.
  B.SetColorMasks(F.Info.Masks[0], F.Info.Masks[1], F.Info.Masks[2]);
  B.SetPaletteModified(!F.ColorTable.empty());
  B.SetColorTable(std::move(F.ColorTable));
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
  TBmpFile F = ReadBmpHeaders(Bytes, Bytes.size());
  AllocateBmpImage(*this, F.Info);
  DecodeBmpPixels(F.Info, BmpPixelBytes(F.Info, Bytes.subspan(static_cast<std::size_t>(F.PixelStart))), ScanLine(0),
                  Stride());
  FinishBmpLoad(*this, F);
  Changed(this);
}

void TBitmap::LoadFromFile(const std::string& FileName) {
  TReadOnlyFile File(FileName);
  // The headers and colour table lie in the first bytes: at most 14 + a
  // header of up to 64 KB + masks + 256 colours (more colours are allowed,
  // and such a file is read whole).
  constexpr std::size_t HeadBytes = std::size_t{80} << 10;
  TFileBytes Head(static_cast<std::size_t>(std::min<std::uint64_t>(File.Size(), HeadBytes)));
  Head.resize(File.ReadAt(0, Head.data(), Head.size()));
  std::optional<TBmpFile> F;
  if (Head.size() < File.Size()) {
    try {
      F = ReadBmpHeaders(Head, File.Size());
    } catch (const Exception&) {
      // The whole file's load gives the error, or finds what lay past the head.
    }
  }
  const std::size_t RowSize = F ? BitmapRowSize(F->Info.Width, F->Info.BitsPerPixel) : 0;
  if (!F || F->Info.Encoded() || F->PixelStart > File.Size() || RowSize == 0) {
    // Encoded pixels expand, and a small file costs nothing to hold whole.
    TFileBytes Bytes = File.ReadAll();
    ReportingMemory([&] { LoadFromFileBytes(std::move(Bytes)); });
    return;
  }
  // Rows are read in file order straight into their places (bottom-up files
  // fill the last row first); bytes the file does not hold become zero, as
  // from a stream.
  ReportingMemory([&] { AllocateBmpImage(*this, F->Info); });
  if (static_cast<std::size_t>(Stride()) != RowSize) {  // never so: the same row layout
    TFileBytes Bytes = File.ReadAll();
    ReportingMemory([&] { LoadFromFileBytes(std::move(Bytes)); });
    return;
  }
  const std::int32_t H = Height();
  std::vector<std::uint8_t*> Rows(static_cast<std::size_t>(H));
  for (std::int32_t I = 0; I < H; ++I) Rows[static_cast<std::size_t>(I)] = ScanLine(F->Info.TopDown() ? I : H - 1 - I);
  std::size_t Got = 0;
  try {
    if (F->Info.TopDown())
      Got = File.ReadAt(F->PixelStart, ScanLine(0), RowSize * static_cast<std::size_t>(H));
    else {
      const std::vector<std::size_t> Lengths(static_cast<std::size_t>(H), RowSize);
      Got = File.ReadAt(F->PixelStart, Rows.data(), Lengths.data(), Rows.size());
    }
  } catch (...) {
    // A failing read leaves no half-read picture.
    MakeEmpty(*this);
    throw;
  }
  for (std::size_t I = Got / RowSize; I < Rows.size(); ++I) {
    const std::size_t Keep = I == Got / RowSize ? Got % RowSize : 0;
    std::memset(Rows[I] + Keep, 0, RowSize - Keep);
  }
  FinishBmpLoad(*this, *F);
  Changed(this);
}
