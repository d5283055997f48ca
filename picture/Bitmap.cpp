#include "picture/Bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#include <QImage>

#include "picture/scaling/AreaMean.h"
#include "picture/FileFormats.h"
#include "picture/scaling/Pyramid.h"
#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TBitmap, TGraphic)

bool TBitmap::HasSignature(std::span<const std::uint8_t> Head) {
  return HeadHas(Head, 0, "BM");
}

struct TBitmap::TReduction {
  std::int32_t Width = 0, Height = 0;
  std::uint64_t Version = 0;
  TResampling Mode = rsNearest;
  bool Filled = false;  // Pixels hold the drawing of this key
  QImage Pixels;
};

void TPixelFree::operator()(std::uint8_t* P) const { std::free(P); }

namespace {
TPixelMemoryHook& PixelMemoryHook() {
  static TPixelMemoryHook Hook;
  return Hook;
}
}  // namespace

void SetPixelMemoryHook(TPixelMemoryHook Hook) { PixelMemoryHook() = std::move(Hook); }

namespace {
// glibc serves requests below its mmap threshold (which grows up to this
// value) from the heap; from it on, a buffer is memory mapped for it alone.
constexpr std::size_t MmapThresholdMax = std::size_t{4} * 1024 * 1024 * sizeof(long);
}  // namespace

TPixelMemory AllocatePixelMemory(std::size_t Bytes) {
  if (PixelMemoryHook() && !PixelMemoryHook()(Bytes)) throw std::bad_alloc();
  constexpr std::size_t HugePage = std::size_t{2} << 20;
  // The heap's pages are mostly in use already: advising huge pages there
  // makes each first touch clear 2 MB, which costs more than the translations
  // it saves. Only buffers that get fresh pages anyway take them.
  void* P = nullptr;
  if (Bytes >= MmapThresholdMax && Bytes <= std::numeric_limits<std::size_t>::max() - HugePage) {
    const std::size_t Rounded = (Bytes + HugePage - 1) / HugePage * HugePage;
    P = std::aligned_alloc(HugePage, Rounded);
#ifdef MADV_HUGEPAGE
    if (P) madvise(P, Rounded, MADV_HUGEPAGE);
#endif
  } else {
    P = std::malloc(Bytes ? Bytes : 1);
  }
  if (!P) throw std::bad_alloc();
  return TPixelMemory(static_cast<std::uint8_t*>(P));
}

std::size_t BitmapRowSize(std::int64_t Width, int BitsPerPixel) {
  if (Width < 0 || BitsPerPixel <= 0 || BitsPerPixel > 32) return 0;
  if (Width > (std::numeric_limits<std::int64_t>::max() - 31) / BitsPerPixel) return 0;
  const std::int64_t Bytes = (Width * BitsPerPixel + 31) / 32 * 4;
  if (static_cast<std::uint64_t>(Bytes) > std::numeric_limits<std::size_t>::max()) return 0;
  return static_cast<std::size_t>(Bytes);
}

namespace {

int BppOf(TPixelFormat F) {
  switch (F) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;
  }
}

TPixelFormat FormatOf(int Bpp) {
  switch (Bpp) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    default: return pf32bit;
  }
}

std::vector<std::uint32_t> DefaultColorTable(int Bpp) {
  if (Bpp == 1) return {0x000000, 0xFFFFFF};
  if (Bpp == 4)
    return {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
            0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  if (Bpp == 8) return CreateHalftonePalette()->Entries();
  return {};
}

// Pixel memory for a bitmap: EOSError (code 12) when it cannot be had.
TPixelMemory BitmapMemory(std::size_t Bytes) {
  try {
    return AllocatePixelMemory(std::max<std::size_t>(Bytes, 1));
  } catch (const std::bad_alloc&) {
    RaiseOSError(ENOMEM);
  }
}

// The row size and total bytes of an image; EOutOfResources for a size no
// memory could hold.
struct TLayout {
  std::size_t Row = 0;
  std::size_t Bytes = 0;
};
TLayout LayoutOf(std::int32_t Width, std::int32_t Height, int Bpp) {
  const std::size_t Row = BitmapRowSize(std::max(Width, 0), Bpp);
  const std::uint64_t Bytes = static_cast<std::uint64_t>(Row) * static_cast<std::uint64_t>(std::max(Height, 0));
  if ((Width > 0 && Row == 0) || Bytes > (std::uint64_t{1} << 40)) throw EOutOfResources("Out of system resources");
  return {Row, static_cast<std::size_t>(Bytes)};
}

// The nearest entry of a colour table to an RGB colour (0x00RRGGBB).
std::uint32_t NearestIndex(const std::vector<std::uint32_t>& Table, std::uint32_t Rgb) {
  std::uint32_t Best = 0;
  std::int64_t BestD = std::numeric_limits<std::int64_t>::max();
  for (std::size_t I = 0; I < Table.size(); ++I) {
    const std::int64_t Dr = static_cast<std::int64_t>((Table[I] >> 16) & 0xFF) - ((Rgb >> 16) & 0xFF);
    const std::int64_t Dg = static_cast<std::int64_t>((Table[I] >> 8) & 0xFF) - ((Rgb >> 8) & 0xFF);
    const std::int64_t Db = static_cast<std::int64_t>(Table[I] & 0xFF) - (Rgb & 0xFF);
    const std::int64_t D = Dr * Dr + Dg * Dg + Db * Db;
    if (D < BestD) {
      BestD = D;
      Best = static_cast<std::uint32_t>(I);
    }
  }
  return Best;
}

// Writes one pixel, given as 0x00RRGGBB, in the bitmap's own format.
void PutPixel(std::uint8_t* Row, std::int32_t X, int Bpp, std::uint32_t Rgb, const std::vector<std::uint32_t>& Table,
              const std::uint32_t* Masks) {
  switch (Bpp) {
    case 1:
    case 4:
    case 8: {
      const std::uint32_t I = NearestIndex(Table, Rgb);
      if (Bpp == 8) {
        Row[X] = static_cast<std::uint8_t>(I);
      } else if (Bpp == 4) {
        std::uint8_t& B = Row[X >> 1];
        B = (X & 1) ? static_cast<std::uint8_t>((B & 0xF0) | I) : static_cast<std::uint8_t>((B & 0x0F) | (I << 4));
      } else {
        std::uint8_t& B = Row[X >> 3];
        const std::uint8_t Bit = static_cast<std::uint8_t>(0x80 >> (X & 7));
        B = I ? static_cast<std::uint8_t>(B | Bit) : static_cast<std::uint8_t>(B & ~Bit);
      }
      break;
    }
    case 16: {
      std::uint32_t M[3] = {Masks[0], Masks[1], Masks[2]};
      if (!M[0] && !M[1] && !M[2]) {
        M[0] = 0x7C00;
        M[1] = 0x03E0;
        M[2] = 0x001F;
      }
      std::uint32_t V = 0;
      const std::uint32_t C[3] = {(Rgb >> 16) & 0xFF, (Rgb >> 8) & 0xFF, Rgb & 0xFF};
      for (int K = 0; K < 3; ++K) {
        if (!M[K]) continue;
        const int Shift = __builtin_ctz(M[K]);
        const std::uint32_t Max = M[K] >> Shift;
        V |= ((C[K] * Max + 127) / 255) << Shift;
      }
      Row[2 * X] = static_cast<std::uint8_t>(V);
      Row[2 * X + 1] = static_cast<std::uint8_t>(V >> 8);
      break;
    }
    case 24:
      Row[3 * X] = static_cast<std::uint8_t>(Rgb);
      Row[3 * X + 1] = static_cast<std::uint8_t>(Rgb >> 8);
      Row[3 * X + 2] = static_cast<std::uint8_t>(Rgb >> 16);
      break;
    default: {
      const std::uint32_t V = 0xFF000000u | Rgb;
      std::memcpy(Row + 4 * static_cast<std::ptrdiff_t>(X), &V, 4);
    }
  }
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::TBitmap(std::int32_t AWidth, std::int32_t AHeight, TPixelFormat Format) {
  FPixelFormat = Format == pfDevice || Format == pfCustom ? pf32bit : Format;
  FBpp = BppOf(FPixelFormat);
  FColorTable = DefaultColorTable(FBpp);
  if (FPixelFormat == pf16bit) SetColorMasks(0xF800, 0x07E0, 0x001F);
  SetSize(AWidth, AHeight);
}

TBitmap::~TBitmap() = default;

int TBitmap::BitsPerPixel() const { return FBpp; }

bool TBitmap::Monochrome() const {
  return FBpp == 1 && (FColorTable.empty() || (FColorTable.size() == 2 && (FColorTable[0] & 0xFFFFFF) == 0 &&
                                                (FColorTable[1] & 0xFFFFFF) == 0xFFFFFF));
}

std::uint8_t* TBitmap::ScanLine(std::int32_t Row) {
  ++FVersion;
  return FBits.get() + Row * FStride;
}
const std::uint8_t* TBitmap::ScanLine(std::int32_t Row) const { return FBits.get() + Row * FStride; }

TPixelMemory TBitmap::MemoryFor(std::size_t Bytes) const {
  if (Bytes > FCapacity) return BitmapMemory(Bytes);
  // Small images give their memory back, so that a bitmap dropped to 1 x 1
  // does not keep a large buffer alive; without memory to spare it keeps it.
  if (Bytes <= 64 && FCapacity > (1u << 20)) {
    try {
      return AllocatePixelMemory(std::max<std::size_t>(Bytes, 1));
    } catch (const std::bad_alloc&) {
    }
  }
  return nullptr;
}

void TBitmap::Install(TPixelMemory Memory, std::size_t Bytes, std::int32_t W, std::int32_t H, TPixelFormat Format,
                      std::ptrdiff_t Stride) {
  if (Memory) {
    FBits = std::move(Memory);
    FCapacity = Bytes;
    ++FAllocations;
  }
  FWidth = W;
  FHeight = H;
  FPixelFormat = Format;
  FBpp = BppOf(Format);
  FStride = Stride;
  FImageWrap.reset();
  ++FVersion;
}

void TBitmap::AllocateImage(std::int32_t AWidth, std::int32_t AHeight, int Bpp, bool ZeroFill) {
  const TLayout L = LayoutOf(AWidth, AHeight, Bpp);
  FPalette.reset();
  // The old pixels go first: a loader replaces them, and holding both would
  // double the memory a large picture needs. Without new memory the bitmap is empty.
  FBits.reset();
  FCapacity = 0;
  Install(nullptr, 0, 0, 0, FPixelFormat, 0);
  Install(BitmapMemory(L.Bytes), L.Bytes, std::max(AWidth, 0), std::max(AHeight, 0), FormatOf(Bpp),
          static_cast<std::ptrdiff_t>(L.Row));
  if (ZeroFill && L.Bytes) std::memset(FBits.get(), 0, L.Bytes);
}

void TBitmap::FillRect(std::int32_t L, std::int32_t T, std::int32_t R, std::int32_t B, std::uint32_t Pixel) {
  L = std::max(L, 0);
  T = std::max(T, 0);
  R = std::min(R, FWidth);
  B = std::min(B, FHeight);
  if (L >= R || T >= B) return;
  if (FBpp == 32) {
    for (std::int32_t Y = T; Y < B; ++Y) {
      auto* Row = reinterpret_cast<std::uint32_t*>(ScanLine(Y));
      std::fill(Row + L, Row + R, Pixel);
    }
    return;
  }
  for (std::int32_t Y = T; Y < B; ++Y)
    for (std::int32_t X = L; X < R; ++X) PutPixel(ScanLine(Y), X, FBpp, Pixel & 0xFFFFFF, FColorTable, FMasks);
}

void TBitmap::SetSize(std::int32_t AWidth, std::int32_t AHeight, bool KeepContent) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  if (AWidth == FWidth && AHeight == FHeight) return;
  const TLayout L = LayoutOf(AWidth, AHeight, FBpp);
  const std::size_t Row = L.Row;
  const std::int32_t OldW = FWidth, OldH = FHeight;
  const std::ptrdiff_t OldStride = FStride;
  const std::int32_t KeepRows = KeepContent ? std::min(OldH, AHeight) : 0;
  const std::size_t KeepBytes = std::min<std::size_t>(static_cast<std::size_t>(OldStride), Row);
  // New memory is had before anything changes, so a failure leaves the bitmap as it was.
  TPixelMemory New = MemoryFor(L.Bytes);
  if (New) {
    for (std::int32_t Y = 0; Y < KeepRows; ++Y)
      std::memcpy(New.get() + Y * static_cast<std::ptrdiff_t>(Row), FBits.get() + Y * OldStride, KeepBytes);
  } else if (KeepRows > 0 && static_cast<std::ptrdiff_t>(Row) != OldStride) {
    // Rows move inside the same memory: wider rows from the bottom up, narrower from the top down.
    std::uint8_t* Base = FBits.get();
    if (static_cast<std::ptrdiff_t>(Row) > OldStride)
      for (std::int32_t Y = KeepRows - 1; Y >= 0; --Y)
        std::memmove(Base + Y * static_cast<std::ptrdiff_t>(Row), Base + Y * OldStride, KeepBytes);
    else
      for (std::int32_t Y = 0; Y < KeepRows; ++Y)
        std::memmove(Base + Y * static_cast<std::ptrdiff_t>(Row), Base + Y * OldStride, KeepBytes);
  }
  Install(std::move(New), L.Bytes, AWidth, AHeight, FPixelFormat, static_cast<std::ptrdiff_t>(Row));
  if (!KeepContent) return;
  // The added area takes the canvas brush colour (white while the canvas is unused).
  const std::uint32_t Fill = ColorToPixel(FCanvas ? FCanvas->Brush().Color : clWhite);
  const std::int32_t KeepCols = std::min(OldW, AWidth);
  FillRect(KeepCols, 0, AWidth, KeepRows, Fill);
  FillRect(0, KeepRows, AWidth, AHeight, Fill);
  if (FBpp < 8 && KeepCols > 0 && KeepRows > 0) {
    // Pixels that shared a byte with the old right edge were copied from beyond it.
    for (std::int32_t Y = 0; Y < KeepRows; ++Y)
      for (std::int32_t X = KeepCols; X < AWidth && (X * FBpp) % 8 != 0; ++X)
        PutPixel(ScanLine(Y), X, FBpp, Fill & 0xFFFFFF, FColorTable, FMasks);
  }
}

void TBitmap::SetPixelFormat(TPixelFormat Format) {
  if (Format == pfDevice || Format == pfCustom) Format = pf32bit;
  const int NewBpp = BppOf(Format);
  if (NewBpp == FBpp && Format == FPixelFormat) return;
  // The image is converted into new memory and takes its place only when done.
  const TLayout L = LayoutOf(FWidth, FHeight, NewBpp);
  std::vector<std::uint32_t> Table = NewBpp <= 8 ? DefaultColorTable(NewBpp) : std::vector<std::uint32_t>{};
  if (NewBpp <= 8 && FBpp <= 8 && FColorTable.size() <= Table.size() && !FColorTable.empty())
    std::copy(FColorTable.begin(), FColorTable.end(), Table.begin());
  std::uint32_t Masks[3] = {0, 0, 0};
  if (Format == pf16bit) {
    Masks[0] = 0xF800;
    Masks[1] = 0x07E0;
    Masks[2] = 0x001F;
  }
  TPixelMemory New = BitmapMemory(L.Bytes);
  const TPixelView Src = View();
  const auto Row = static_cast<std::ptrdiff_t>(L.Row);
  if (!Empty() && NewBpp == 32) {
    ConvertTo32(Src, New.get(), Row);
  } else if (!Empty()) {
    if (L.Bytes) std::memset(New.get(), 0, L.Bytes);
    for (std::int32_t Y = 0; Y < FHeight; ++Y)
      for (std::int32_t X = 0; X < FWidth; ++X)
        PutPixel(New.get() + Y * Row, X, NewBpp, Src.PixelAt(X, Y), Table, Masks);
  } else if (L.Bytes) {
    std::memset(New.get(), 0, L.Bytes);
  }
  FColorTable = std::move(Table);
  std::copy(std::begin(Masks), std::end(Masks), FMasks);
  FPalette.reset();
  Install(std::move(New), L.Bytes, FWidth, FHeight, Format, Row);
  Changed(this);
}

// Every pixel is written, so the new memory is not cleared first. A large old
// image (memory mapped for it alone) gives its pages back as its rows are
// read: a picture at the size limit does not hold its old and new images at
// once, only the larger of them. The old image is not read afterwards.
void TBitmap::ConvertTo32(const TPixelView& Src, std::uint8_t* New, std::ptrdiff_t Row) {
  QImage Target(New, FWidth, FHeight, Row, QImage::Format_RGB32);
  const bool GiveBack = FCapacity >= MmapThresholdMax;
  const auto Page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  auto Given = (reinterpret_cast<std::uintptr_t>(FBits.get()) + Page - 1) / Page * Page;
  constexpr std::int32_t Band = 64;
  for (std::int32_t Y = 0; Y < FHeight; Y += Band) {
    const std::int32_t Bottom = std::min(FHeight, Y + Band);
    StretchBlt(Target, TRect{0, Y, FWidth, Bottom}, nullptr, Src, TRect{0, Y, FWidth, Bottom});
    const auto Read = reinterpret_cast<std::uintptr_t>(FBits.get() + Bottom * FStride) / Page * Page;
    if (GiveBack && Read > Given) {
      madvise(reinterpret_cast<void*>(Given), Read - Given, MADV_DONTNEED);
      Given = Read;
    }
  }
}

void TBitmap::SetColorTable(std::vector<std::uint32_t> Table) {
  ++FVersion;
  for (auto& C : Table) C &= 0xFFFFFF;
  FColorTable = std::move(Table);
  FPalette.reset();
}

void TBitmap::SetColorMasks(std::uint32_t Red, std::uint32_t Green, std::uint32_t Blue) {
  ++FVersion;
  FMasks[0] = Red;
  FMasks[1] = Green;
  FMasks[2] = Blue;
}

TColor TBitmap::TransparentColor() const {
  if (Monochrome() || Empty()) return clWhite;
  return PixelToColor(View().PixelAt(0, FHeight - 1));
}

TPixelView TBitmap::View() const {
  TPixelView V;
  V.Bits = FBits.get();
  V.Stride = FStride;
  V.Width = FWidth;
  V.Height = FHeight;
  V.BitsPerPixel = FBpp;
  V.Palette = FColorTable.data();
  V.PaletteSize = static_cast<int>(FColorTable.size());
  V.RedMask = FMasks[0];
  V.GreenMask = FMasks[1];
  V.BlueMask = FMasks[2];
  return V;
}

QImage* TBitmap::CanvasImage() {
  ++FVersion;  // whoever asks for the surface draws on it
  if (FBpp != 32) SetPixelFormat(pf32bit);
  if (Empty()) return nullptr;
  if (!FImageWrap || FImageWrap->constBits() != FBits.get() || FImageWrap->width() != FWidth ||
      FImageWrap->height() != FHeight)
    FImageWrap = std::make_unique<QImage>(FBits.get(), FWidth, FHeight, FStride, QImage::Format_RGB32);
  return FImageWrap.get();
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>([this] { return CanvasImage(); }, 32);
  return *FCanvas;
}

void TBitmap::DrawInto(TCanvas& ACanvas, const TRect& R) {
  if (Empty()) return;
  TBlitOptions O;
  if (Transparent()) O.TransparentColor = static_cast<std::uint32_t>(ColorToPixel(TransparentColor()) & 0xFFFFFF);
  if (Monochrome()) {
    O.MonoForeground = ColorToPixel(ACanvas.TextColor()) & 0xFFFFFF;
    O.MonoBackground = ColorToPixel(ACanvas.BackgroundColor()) & 0xFFFFFF;
  }
  // Screens of 8 bits or fewer get an averaged picture rather than dropped pixels.
  O.Halftone = ACanvas.BitsPerPixel() <= 8 && ACanvas.BitsPerPixel() < FBpp;
  if (FBpp == 32 && FAlphaFormat != afIgnored)
    O.Alpha = FAlphaFormat == afDefined ? TBlitOptions::alStraight : TBlitOptions::alPremultiplied;
  if (ACanvas.Resampling() == rsSmooth && (R.Width() < FWidth || R.Height() < FHeight) && R.Width() > 0 &&
      R.Height() > 0 && !O.TransparentColor && !O.MonoForeground && !O.Halftone && ACanvas.Surface()) {
    DrawSmooth(ACanvas, R);
    return;
  }
  const std::int64_t Target = std::int64_t{R.Width()} * R.Height();
  const bool Strong = R.Width() > 0 && R.Height() > 0 && Target <= (std::int64_t{1} << 22) &&
                      std::int64_t{FWidth} * FHeight >= 16 * Target;
  if (!Strong || O.TransparentColor || O.MonoForeground || O.Halftone || O.Alpha != TBlitOptions::alNone) {
    ACanvas.StretchBltFrom(R, View(), TRect{0, 0, FWidth, FHeight}, O);
    return;
  }
  // The same sampling as drawing straight into R, kept for R's size and copied
  // pixel for pixel while the bitmap does not change.
  const TRect Whole{0, 0, FWidth, FHeight};
  switch (UseReduction(R, rsNearest)) {
    case ruDrawDirect: ACanvas.StretchBltFrom(R, View(), Whole, O); return;
    case ruFill: StretchBlt(FReduction->Pixels, TRect{0, 0, R.Width(), R.Height()}, nullptr, View(), Whole); break;
    case ruCopy: break;
  }
  ACanvas.StretchBltFrom(R, ViewOf(FReduction->Pixels), TRect{0, 0, R.Width(), R.Height()});
}

TBitmap::TReductionUse TBitmap::UseReduction(const TRect& R, TResampling Mode) {
  const bool Same = FReduction && FReduction->Width == R.Width() && FReduction->Height == R.Height() &&
                    FReduction->Version == FVersion && FReduction->Mode == Mode;
  if (Same && FReduction->Filled) return ruCopy;
  if (!Same) {
    // A drawing seen for the first time goes straight to the target: a picture
    // drawn once (or changing between drawings) pays for no copy.
    if (!FReduction) FReduction = std::make_unique<TReduction>();
    FReduction->Version = FVersion;
    FReduction->Mode = Mode;
    FReduction->Filled = false;
    if (FReduction->Width != R.Width() || FReduction->Height != R.Height()) {
      FReduction->Width = R.Width();
      FReduction->Height = R.Height();
      FReduction->Pixels = QImage();
    }
    return ruDrawDirect;
  }
  // Drawn again: kept from now on, in the memory of a reduction of the same
  // size when there is one (a fresh image faults in page by page).
  if (FReduction->Pixels.isNull()) {
    FReduction->Pixels = QImage(R.Width(), R.Height(), QImage::Format_RGB32);
    // Without memory for the reduction the drawing samples the pixels themselves.
    if (FReduction->Pixels.isNull()) return ruDrawDirect;
  }
  FReduction->Filled = true;
  return ruFill;
}

void TBitmap::DrawSmooth(TCanvas& ACanvas, const TRect& R) {
  if (!FPyramid) FPyramid = std::make_unique<TPyramid>(FVersion);
  if (FPyramid->Version() != FVersion) FPyramid->Reset(FVersion);
  const TRect Whole{0, 0, FWidth, FHeight};
  // Pixels with alpha are averaged premultiplied (the levels hold them so)
  // and the result is blended over what the canvas holds.
  TPixelView Source = View();
  const bool Alpha = FBpp == 32 && FAlphaFormat != afIgnored;
  if (Alpha) Source.Alpha = FAlphaFormat == afDefined ? akStraight : akPremultiplied;
  // A kept reduction is copied as it is, so only opaque pictures keep one: a
  // blended one depends on what lies below.
  const bool Keep = !Alpha && std::int64_t{R.Width()} * R.Height() <= (std::int64_t{1} << 22);
  // The first drawing of these pixels (or the same drawing again) averages
  // straight from them, reading each byte once; the pyramid is built only
  // when they are drawn at another size, as zooming does.
  const bool Again = FDirectSmooth.Version == FVersion && FDirectSmooth.Drawn &&
                     (FDirectSmooth.Width != R.Width() || FDirectSmooth.Height != R.Height());
  if (FPyramid->LevelCount() == 0 && !Again && AreaMeanFits(Source, Whole, R.Width(), R.Height())) {
    FDirectSmooth = TDirectSmooth{FVersion, R.Width(), R.Height(), true};
    switch (Keep ? UseReduction(R, rsSmooth) : ruDrawDirect) {
      case ruDrawDirect: AreaMeanBlt(*ACanvas.Surface(), R, ACanvas.ClipRegion(), Source, Whole); return;
      case ruFill: AreaMeanBlt(FReduction->Pixels, TRect{0, 0, R.Width(), R.Height()}, nullptr, Source, Whole); break;
      case ruCopy: break;
    }
    ACanvas.StretchBltFrom(R, ViewOf(FReduction->Pixels), TRect{0, 0, R.Width(), R.Height()});
    return;
  }
  TReductionLevel Level = FPyramid->LevelFor(Source, R.Width(), R.Height());
  if (Level.Pixels.Width == R.Width() && Level.Pixels.Height == R.Height()) {
    // The level is the picture at the target's size: a plain copy, or a
    // blend of its premultiplied pixels.
    Level.Pixels.Alpha = Alpha ? akPremultiplied : akNone;
    ACanvas.StretchBltFrom(R, Level.Pixels, TRect{0, 0, R.Width(), R.Height()});
    return;
  }
  switch (Keep ? UseReduction(R, rsSmooth) : ruDrawDirect) {
    case ruDrawDirect:
      SmoothStretchBlt(*ACanvas.Surface(), R, ACanvas.ClipRegion(), Level, FWidth, FHeight, Whole);
      return;
    case ruFill:
      SmoothStretchBlt(FReduction->Pixels, TRect{0, 0, R.Width(), R.Height()}, nullptr, Level, FWidth, FHeight, Whole);
      break;
    case ruCopy: break;
  }
  ACanvas.StretchBltFrom(R, ViewOf(FReduction->Pixels), TRect{0, 0, R.Width(), R.Height()});
}

std::size_t TBitmap::PyramidLevels() const {
  return FPyramid && FPyramid->Version() == FVersion ? FPyramid->LevelCount() : 0;
}

std::uint64_t TBitmap::PyramidAllocationCount() const { return FPyramid ? FPyramid->AllocationCount() : 0; }

bool TBitmap::Equals(const TGraphic* Other) const {
  const auto* B = dynamic_cast<const TBitmap*>(Other);
  if (!B || B->FWidth != FWidth || B->FHeight != FHeight || B->FBpp != FBpp || B->FColorTable != FColorTable)
    return false;
  for (std::int32_t Y = 0; Y < FHeight; ++Y)
    if (std::memcmp(ScanLine(Y), B->ScanLine(Y), static_cast<std::size_t>(FStride)) != 0) return false;
  return true;
}

HPALETTE TBitmap::Palette() const {
  if (FColorTable.empty()) return nullptr;
  if (!FPalette) FPalette = std::make_unique<TPalette>(FColorTable);
  return FPalette.get();
}

void TBitmap::SetPalette(HPALETTE Value) {
  if (!Value || FBpp > 8) return;
  std::vector<std::uint32_t> Table = Value->Entries();
  Table.resize(std::min<std::size_t>(Table.size(), std::size_t{1} << FBpp));
  SetColorTable(std::move(Table));
  FPaletteModified = true;
  Changed(this);
}

void TBitmap::Assign(const TPersistent* Source) {
  const auto* B = dynamic_cast<const TBitmap*>(Source);
  if (!B) {
    TGraphic::Assign(Source);
    return;
  }
  if (B == this) return;
  // Copied into new memory first: when that fails the bitmap is unchanged.
  const std::size_t Bytes = static_cast<std::size_t>(B->FStride) * static_cast<std::size_t>(B->FHeight);
  TPixelMemory New = BitmapMemory(Bytes);
  if (Bytes) std::memcpy(New.get(), B->FBits.get(), Bytes);
  std::vector<std::uint32_t> Table = B->FColorTable;
  FPalette.reset();
  FColorTable = std::move(Table);
  Install(std::move(New), Bytes, B->FWidth, B->FHeight, B->FPixelFormat, B->FStride);
  FAlphaFormat = B->FAlphaFormat;
  std::copy(std::begin(B->FMasks), std::end(B->FMasks), FMasks);
  FTransparent = B->FTransparent;
  FPaletteModified = B->FPaletteModified;
  Changed(this);
}

void TBitmap::ReadData(TStream& Stream) {
  const std::uint32_t L = Stream.ReadUInt32LE();
  if (L == 0) {
    AllocateImage(0, 0, FBpp, false);
    Changed(this);
    return;
  }
  if (static_cast<std::uint64_t>(Stream.Remaining()) < L) throw EReadError("Stream read error");
  const std::vector<std::uint8_t> Bytes = Stream.ReadBytes(L);
  auto S = TMemoryStream::Over(Bytes);
  LoadFromStream(*S);
}

void TBitmap::WriteData(TStream& Stream) const {
  if (Empty()) {
    Stream.WriteUInt32LE(0);
    return;
  }
  TMemoryStream S;
  SaveToStream(S);
  Stream.WriteUInt32LE(static_cast<std::uint32_t>(S.Bytes().size()));
  Stream.WriteBuffer(S.Bytes().data(), S.Bytes().size());
}

void TBitmap::SaveToStream(TStream& Stream) const {
  const bool Masks = (FBpp == 16 || FBpp == 32) && (FMasks[0] || FMasks[1] || FMasks[2]);
  const std::uint32_t TableBytes = static_cast<std::uint32_t>(FColorTable.size() * 4);
  const std::uint32_t HeaderBytes = 14 + 40 + (Masks ? 12 : 0) + TableBytes;
  const std::uint64_t ImageBytes = static_cast<std::uint64_t>(FStride) * static_cast<std::uint64_t>(FHeight);
  if (HeaderBytes + ImageBytes > 0xFFFFFFFFu) throw EInvalidGraphic("Bitmap image is not valid");
  std::vector<std::uint8_t> H;
  auto U16 = [&H](std::uint32_t V) {
    H.push_back(static_cast<std::uint8_t>(V));
    H.push_back(static_cast<std::uint8_t>(V >> 8));
  };
  auto U32 = [&](std::uint32_t V) {
    U16(V & 0xFFFF);
    U16(V >> 16);
  };
  U16(0x4D42);
  U32(static_cast<std::uint32_t>(HeaderBytes + ImageBytes));
  U32(0);
  U32(HeaderBytes);
  U32(40);
  U32(static_cast<std::uint32_t>(FWidth));
  U32(static_cast<std::uint32_t>(FHeight));  // bottom-up rows
  U16(1);
  U16(static_cast<std::uint32_t>(FBpp));
  U32(Masks ? 3 : 0);
  U32(static_cast<std::uint32_t>(ImageBytes));
  U32(3780);
  U32(3780);
  U32(static_cast<std::uint32_t>(FColorTable.size()));
  U32(0);
  if (Masks) {
    U32(FMasks[0]);
    U32(FMasks[1]);
    U32(FMasks[2]);
  }
  for (std::uint32_t C : FColorTable) U32(C & 0xFFFFFF);
  Stream.WriteBuffer(H.data(), H.size());
  for (std::int32_t Y = FHeight - 1; Y >= 0; --Y) Stream.WriteBuffer(ScanLine(Y), static_cast<std::size_t>(FStride));
}
