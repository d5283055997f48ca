// TBitmap: a device-independent bitmap that keeps the pixel format and colour
// table of its file, and serves as an off-screen drawing surface.
#pragma once

#include <cstdint>
#include <span>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "picture/Graphic.h"

class TPyramid;

// Memory for pixels. Large buffers (32 MB and more, which the C library maps
// afresh) are aligned to 2 MB and offered huge pages where the system has
// them: sampling a large picture sparsely (a strong reduction) touches a new
// page every few pixels, and with small pages the address translations cost
// more than the pixels.
struct TPixelFree {
  void operator()(std::uint8_t* P) const;
};
using TPixelMemory = std::unique_ptr<std::uint8_t[], TPixelFree>;
// Raises std::bad_alloc when the memory cannot be had.
TPixelMemory AllocatePixelMemory(std::size_t Bytes);

// A seam for tests of memory failures: while a hook is set, every request for
// pixel memory asks it first, and a request it answers false fails as if the
// system had no memory left. An empty hook removes it.
using TPixelMemoryHook = std::function<bool(std::size_t Bytes)>;
void SetPixelMemoryHook(TPixelMemoryHook Hook);

// How the top byte of a 32-bit bitmap's pixels is read when the bitmap is
// drawn: ignored (opaque), as alpha, or as alpha the colours are already
// multiplied by.
enum TAlphaFormat : std::uint8_t { afIgnored, afDefined, afPremultiplied };

enum TPixelFormat : std::uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Every change of a bitmap's size or format either completes or leaves the
// bitmap as it was (AllocateImage: empty); when pixel memory cannot be had it
// raises EOSError "System Error.  Code: 12.\r\n..." with the system's text.
class TBitmap : public TGraphic {
  KEST_CLASS(TBitmap)
 public:
  // Whether a file's first bytes are the start of bitmap file data.
  static bool HasSignature(std::span<const std::uint8_t> Head);
  TBitmap();
  // A bitmap of the given size and format; the pixels are the canvas brush
  // colour (white), or colour index 0 for formats with a colour table.
  TBitmap(std::int32_t AWidth, std::int32_t AHeight, TPixelFormat Format = pf32bit);
  ~TBitmap() override;

  void DrawInto(TCanvas& ACanvas, const TRect& R) override;
  bool Equals(const TGraphic* Other) const override;
  bool Empty() const override { return FWidth == 0 || FHeight == 0; }
  std::int32_t Height() const override { return FHeight; }
  HPALETTE Palette() const override;
  std::int32_t Width() const override { return FWidth; }
  void ReadData(TStream& Stream) override;
  void WriteData(TStream& Stream) const override;
  void SetHeight(std::int32_t Value) override { SetSize(FWidth, Value); }
  void SetPalette(HPALETTE Value) override;
  void SetWidth(std::int32_t Value) override { SetSize(Value, FHeight); }
  // Reads a bitmap file (its 14-byte file header first) from the stream.
  void LoadFromStream(TStream& Stream) override;
  // The same from a file: uncompressed rows are read from it straight into
  // the pixel buffer; other files are read whole and loaded as from a stream.
  void LoadFromFile(const std::string& FileName) override;
  // Writes a bitmap file with a 40-byte header (and colour masks where needed).
  void SaveToStream(TStream& Stream) const override;
  void Assign(const TPersistent* Source) override;

  // Resizes: the old image stays in the top-left corner, unscaled and clipped,
  // and the added area takes the canvas brush colour. Memory already held is
  // reused when the new image fits into it. With KeepContent false the pixels
  // are left undefined, for a caller that overwrites all of them.
  void SetSize(std::int32_t AWidth, std::int32_t AHeight, bool KeepContent = true);

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // 32-bit bitmaps with alpha are blended over what lies beneath when drawn.
  // Another format changes what the pixels mean: what was made from them goes.
  TAlphaFormat AlphaFormat() const { return FAlphaFormat; }
  void SetAlphaFormat(TAlphaFormat Value) {
    if (Value != FAlphaFormat) PixelsChanged();
    FAlphaFormat = Value;
  }
  // Converts the image to another format (colours are kept where the format
  // can hold them). A large picture made 32-bit holds little more than its
  // new image meanwhile.
  void SetPixelFormat(TPixelFormat Format);
  int BitsPerPixel() const;
  bool Monochrome() const;

  // Row access: rows follow each other at Stride bytes, the top row first.
  // Asking for a writable row counts as a change of the pixels.
  std::ptrdiff_t Stride() const { return FStride; }
  std::uint8_t* ScanLine(std::int32_t Row);
  const std::uint8_t* ScanLine(std::int32_t Row) const;

  // The colour table (0x00RRGGBB) of formats of 8 bits or fewer.
  const std::vector<std::uint32_t>& ColorTable() const { return FColorTable; }
  void SetColorTable(std::vector<std::uint32_t> Table);
  // Colour masks of 16- and 32-bit images (all zero: the defaults 5-5-5 and 8-8-8).
  void SetColorMasks(std::uint32_t Red, std::uint32_t Green, std::uint32_t Blue);
  std::uint32_t RedMask() const { return FMasks[0]; }
  std::uint32_t GreenMask() const { return FMasks[1]; }
  std::uint32_t BlueMask() const { return FMasks[2]; }

  // Replaces the image by an uninitialised one (zero-filled when ZeroFill) of the
  // given size and bits per pixel (1, 4, 8, 16, 24 or 32); for loaders. The
  // caller has checked that the size is sensible. The old pixels are given up
  // first, so when the new memory cannot be had the bitmap is left empty.
  void AllocateImage(std::int32_t AWidth, std::int32_t AHeight, int Bpp, bool ZeroFill);

  // The colour used as transparent: that of the bottom-left pixel, or white
  // for a monochrome bitmap.
  TColor TransparentColor() const;

  TPixelView View() const;
  // The canvas that draws on the bitmap; a bitmap of another format becomes a
  // 32-bit bitmap when its canvas is first used.
  TCanvas& Canvas();
  // Gives up device resources after rendering; bitmaps here hold none.
  void Dormant() {}
  // Tells the bitmap that its pixels were written through a row pointer taken
  // earlier (a decoder that writes while others may draw the bitmap).
  void PixelsChanged() { ++FVersion; }

  // How many times this bitmap had to allocate new pixel memory.
  std::uint64_t AllocationCount() const { return FAllocations; }
  // Bytes of pixel memory held.
  std::size_t Capacity() const { return FCapacity; }
  // The reduction pyramid that smooth drawing keeps once the pixels are drawn
  // at a second size: levels built for the current pixels (0 when none or when
  // the pixels changed since), and how many level allocations it made.
  std::size_t PyramidLevels() const;
  std::uint64_t PyramidAllocationCount() const;

 private:
  // New memory for an image of Bytes bytes, or null when the memory held serves.
  TPixelMemory MemoryFor(std::size_t Bytes) const;
  // Makes the image W x H in Format with rows Stride bytes apart, in Memory
  // (of Bytes bytes) when given, else in the memory held.
  void Install(TPixelMemory Memory, std::size_t Bytes, std::int32_t W, std::int32_t H, TPixelFormat Format,
               std::ptrdiff_t Stride);
  // SetPixelFormat's conversion of Src, the image held, to 32 bits in New.
  void ConvertTo32(const TPixelView& Src, std::uint8_t* New, std::ptrdiff_t Row);
  QImage* CanvasImage();
  void FillRect(std::int32_t L, std::int32_t T, std::int32_t R, std::int32_t B, std::uint32_t Pixel);

  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  TPixelFormat FPixelFormat = pf32bit;
  TAlphaFormat FAlphaFormat = afIgnored;
  int FBpp = 32;
  std::ptrdiff_t FStride = 0;
  TPixelMemory FBits;
  std::size_t FCapacity = 0;
  std::uint64_t FAllocations = 0;
  std::vector<std::uint32_t> FColorTable;
  std::uint32_t FMasks[3] = {0, 0, 0};
  mutable std::unique_ptr<TPalette> FPalette;
  std::unique_ptr<TCanvas> FCanvas;
  std::unique_ptr<QImage> FImageWrap;
  // The last strong reduction drawn, kept for drawing it again: sampling a
  // large picture sparsely costs a cache line per target pixel, copying the
  // reduction a few bytes.
  struct TReduction;
  std::unique_ptr<TReduction> FReduction;
  // Drawing smaller than the bitmap's size with area averaging: straight from
  // the pixels the first time, from the pyramid once they are drawn at a
  // second size (built then, dropped when the pixels change).
  void DrawSmooth(TCanvas& ACanvas, const TRect& R);
  // What a drawing into R in the given mode does with the kept reduction:
  // draws straight into the target (the first such drawing), fills the
  // reduction and copies it (the second), or only copies it (later ones).
  enum TReductionUse : std::uint8_t { ruDrawDirect, ruFill, ruCopy };
  TReductionUse UseReduction(const TRect& R, TResampling Mode);
  std::unique_ptr<TPyramid> FPyramid;
  // The last smooth drawing made straight from the pixels, without the pyramid.
  struct TDirectSmooth {
    std::uint64_t Version = 0;
    std::int32_t Width = 0, Height = 0;
    bool Drawn = false;
  };
  TDirectSmooth FDirectSmooth;
  std::uint64_t FVersion = 0;
};

// Bytes of one row of a bitmap of the given width and depth: rows are padded to
// whole 32-bit words. Zero on overflow.
std::size_t BitmapRowSize(std::int64_t Width, int BitsPerPixel);
