#include "picture/tiff/Tiff.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <tiffio.h>

#include "picture/decoding/ColorProfile.h"
#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/ByteReader.h"

KEST_CLASS_IMPL(TTIFFImage, TDecodedGraphic)

bool TTIFFImage::HasSignature(std::span<const std::uint8_t> Head) {
  // Classic and big TIFF, either byte order.
  using namespace std::string_view_literals;
  for (std::string_view S : {"II*\0"sv, "MM\0*"sv, "II+\0"sv, "MM\0+"sv})
    if (HeadHas(Head, 0, S)) return true;
  return false;
}

void InitializeTiffSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TTIFFImage::StaticClass());
  Formats.RegisterSignature(TTIFFImage::StaticClass(), &TTIFFImage::HasSignature);
  Formats.RegisterFormat("tiff", "TIFF Image File", TTIFFImage::StaticClass());
  Formats.RegisterFormat("tif", "TIFF Image File", TTIFFImage::StaticClass());
}

void FinalizeTiffSupport() { TFileFormatsList::Instance().UnregisterClass(TTIFFImage::StaticClass()); }

namespace {

// No single allocation libtiff makes for one file may exceed this: strips and
// tiles of a damaged file may claim any size.
constexpr tmsize_t MaxLibraryAllocation = tmsize_t{512} << 20;

// ---------------------------------------------------------------------------
// The file in memory, read through libtiff's client procedures.

struct TMemoryFile {
  std::span<const std::uint8_t> Bytes;
  std::uint64_t Pos = 0;
  // libtiff's first error: the account a failure gives.
  std::string Error;
};

tsize_t ReadProc(thandle_t H, tdata_t Buffer, tsize_t Size) {
  auto& F = *static_cast<TMemoryFile*>(H);
  if (Size <= 0 || F.Pos >= F.Bytes.size()) return 0;
  const std::uint64_t N = std::min<std::uint64_t>(static_cast<std::uint64_t>(Size), F.Bytes.size() - F.Pos);
  std::memcpy(Buffer, F.Bytes.data() + F.Pos, static_cast<std::size_t>(N));
  F.Pos += N;
  return static_cast<tsize_t>(N);
}

tsize_t WriteProc(thandle_t, tdata_t, tsize_t) { return -1; }

toff_t SeekProc(thandle_t H, toff_t Offset, int Whence) {
  auto& F = *static_cast<TMemoryFile*>(H);
  std::uint64_t Base = 0;
  if (Whence == SEEK_CUR)
    Base = F.Pos;
  else if (Whence == SEEK_END)
    Base = F.Bytes.size();
  const auto To = CheckedAdd(Base, Offset);
  if (!To) return static_cast<toff_t>(-1);
  F.Pos = *To;
  return F.Pos;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t H) { return static_cast<TMemoryFile*>(H)->Bytes.size(); }
// The bytes are offered as a mapped file: libtiff then reads strips and tiles
// in place (it never writes to a file opened for reading), and its reading of
// uncompressed tiles through the read procedure fails on valid files.
int MapProc(thandle_t H, tdata_t* Base, toff_t* Size) {
  auto& F = *static_cast<TMemoryFile*>(H);
  *Base = const_cast<std::uint8_t*>(F.Bytes.data());
  *Size = F.Bytes.size();
  return 1;
}
void UnmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff's messages go to the file being read, never to the terminal.
int OnError(TIFF*, void* User, const char* Module, const char* Format, va_list Args) {
  auto& F = *static_cast<TMemoryFile*>(User);
  if (F.Error.empty()) {
    char Text[512];
    std::vsnprintf(Text, sizeof Text, Format, Args);
    F.Error = Module && *Module ? std::string(Module) + ": " + Text : std::string(Text);
  }
  return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages from places that know no file go nowhere either.
void SilenceLibrary() {
  static const bool Done = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)Done;
}

[[noreturn]] void Fail(const std::string& Why) { throw ETIFF("TIFF image is not valid (" + Why + ")"); }

// An open TIFF file over bytes in memory.
class TTiffFile {
 public:
  explicit TTiffFile(std::span<const std::uint8_t> Bytes) {
    SilenceLibrary();
    FFile.Bytes = Bytes;
    TIFFOpenOptions* Options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(Options, MaxLibraryAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(Options, OnError, &FFile);
    TIFFOpenOptionsSetWarningHandlerExtR(Options, OnWarning, &FFile);
    FTiff = TIFFClientOpenExt("TIFF", "r", &FFile, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                              UnmapProc, Options);
    TIFFOpenOptionsFree(Options);
    if (!FTiff) Fail(Error("not a TIFF file"));
  }
  ~TTiffFile() {
    if (FTiff) TIFFClose(FTiff);
  }
  TTiffFile(const TTiffFile&) = delete;
  TTiffFile& operator=(const TTiffFile&) = delete;

  TIFF* operator*() const { return FTiff; }
  std::string Error(const char* Otherwise) const { return FFile.Error.empty() ? Otherwise : FFile.Error; }

  template <class T>
  T Field(ttag_t Tag) const {
    T V{};
    TIFFGetFieldDefaulted(FTiff, Tag, &V);
    return V;
  }

 private:
  TMemoryFile FFile;
  TIFF* FTiff = nullptr;
};

// What the decode needs to know of the first page.
struct TPage {
  std::uint32_t Width = 0, Height = 0;
  std::uint16_t Samples = 1, Bits = 1, Photometric = 0, Planar = PLANARCONFIG_CONTIG, InkSet = INKSET_CMYK;
  std::uint16_t Orientation = ORIENTATION_TOPLEFT;
  std::uint16_t Compression = COMPRESSION_NONE;
  // EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNASSALPHA, or 0 for no alpha.
  std::uint16_t Alpha = 0;
  bool Tiled = false;
};

// The colour samples a pixel of the photometric interpretation needs.
int ColourChannels(std::uint16_t Photometric) {
  switch (Photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
    case PHOTOMETRIC_LOGLUV: return 3;
    case PHOTOMETRIC_SEPARATED: return 4;
    default: return 1;
  }
}

TPage ReadPage(const TTiffFile& F) {
  TPage P;
  if (!TIFFGetField(*F, TIFFTAG_IMAGEWIDTH, &P.Width) || !TIFFGetField(*F, TIFFTAG_IMAGELENGTH, &P.Height))
    Fail(F.Error("no picture size"));
  if (P.Width == 0 || P.Height == 0) Fail("empty picture");
  if (std::uint64_t{P.Width} * P.Height > MaxPicturePixels) Fail("picture too large");
  P.Samples = F.Field<std::uint16_t>(TIFFTAG_SAMPLESPERPIXEL);
  P.Bits = F.Field<std::uint16_t>(TIFFTAG_BITSPERSAMPLE);
  P.Planar = F.Field<std::uint16_t>(TIFFTAG_PLANARCONFIG);
  P.InkSet = F.Field<std::uint16_t>(TIFFTAG_INKSET);
  P.Orientation = F.Field<std::uint16_t>(TIFFTAG_ORIENTATION);
  P.Compression = F.Field<std::uint16_t>(TIFFTAG_COMPRESSION);
  P.Tiled = TIFFIsTiled(*F) != 0;
  if (!TIFFGetField(*F, TIFFTAG_PHOTOMETRIC, &P.Photometric)) P.Photometric = P.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  // The first extra sample is alpha only where it follows all the colour
  // channels: a page whose ExtraSamples claim a sample its colours need (an
  // alpha with one gray sample, or with three RGB samples) is read as the
  // colours its samples hold, without alpha.
  std::uint16_t Extra = 0;
  std::uint16_t* Types = nullptr;
  if (TIFFGetField(*F, TIFFTAG_EXTRASAMPLES, &Extra, &Types) && Extra > 0 && Types &&
      (Types[0] == EXTRASAMPLE_ASSOCALPHA || Types[0] == EXTRASAMPLE_UNASSALPHA) &&
      P.Samples >= Extra + ColourChannels(P.Photometric))
    P.Alpha = Types[0];
  return P;
}

// Pages whose rows this file reads itself, striped and interleaved: 8-bit
// gray, RGB and RGBA, and CMYK inks (with or without alpha) of 8 or 16 bits,
// which libtiff's RGBA reader takes only at 8 bits and without alpha. All
// others go through libtiff's RGBA reader.
bool DirectRows(const TPage& P) {
  if (P.Tiled || P.Planar != PLANARCONFIG_CONTIG || P.Compression == COMPRESSION_OJPEG) return false;
  if (P.Photometric == PHOTOMETRIC_SEPARATED)
    return (P.Bits == 8 || P.Bits == 16) && P.InkSet == INKSET_CMYK && P.Samples == (P.Alpha ? 5 : 4);
  if (P.Bits != 8) return false;
  switch (P.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: return P.Samples == 1 && !P.Alpha;
    case PHOTOMETRIC_RGB: return P.Samples == (P.Alpha ? 4 : 3);
    default: return false;
  }
}

// Narrows a row of 16-bit samples (in the machine's byte order, as libtiff
// gives them) to 8 bits, rounding as libtiff's RGBA reader does.
void NarrowSamples(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count) {
  for (std::size_t I = 0; I < Count; ++I) {
    std::uint16_t V;
    std::memcpy(&V, In + 2 * I, 2);
    Out[I] = static_cast<std::uint8_t>((V * 255u + 32767u) / 65535u);
  }
}

// Inks with alpha, five samples a pixel: the inks converted by Convert (four
// samples in, three out) and the alpha put after them, a pixel of four bytes.
template <class F>
void ConvertInksWithAlpha(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count, F&& Convert) {
  std::uint8_t Inks[4 * 64], Colours[3 * 64];
  for (std::size_t From = 0; From < Count; From += 64) {
    const std::size_t N = std::min<std::size_t>(64, Count - From);
    for (std::size_t I = 0; I < N; ++I) std::memcpy(Inks + 4 * I, In + 5 * (From + I), 4);
    Convert(Inks, Colours, N);
    for (std::size_t I = 0; I < N; ++I) {
      std::memcpy(Out + 4 * (From + I), Colours + 3 * I, 3);
      Out[4 * (From + I) + 3] = In[5 * (From + I) + 4];
    }
  }
}

std::span<const std::uint8_t> Profile(const TTiffFile& F) {
  std::uint32_t Size = 0;
  void* Data = nullptr;
  if (!TIFFGetField(*F, TIFFTAG_ICCPROFILE, &Size, &Data) || !Data) return {};
  return {static_cast<const std::uint8_t*>(Data), Size};
}

// Copies a row exchanging the first and third byte of each pixel of Bpp
// bytes: red, green, blue (and alpha) to the bitmap's blue, green, red (and
// alpha). In and Out may be the same row. It runs over every decoded row, so
// it works on several pixels at once: 32-bit pixels as words, 24-bit pixels
// five at a time by a byte shuffle where the processor has one.
using TSwapFn = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

void SwapRedBlue24Plain(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count) {
  for (std::size_t I = 0; I < Count; ++I, In += 3, Out += 3) {
    const std::uint8_t R = In[0];
    Out[0] = In[2];
    Out[1] = In[1];
    Out[2] = R;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Separate rows only: in place, each load would overlap the previous store.
__attribute__((target("ssse3"))) void SwapRedBlue24Shuffle(const std::uint8_t* In, std::uint8_t* Out,
                                                           std::size_t Count) {
  using TBytes = std::uint8_t __attribute__((vector_size(16)));
  std::size_t I = 0;
  // 16 bytes hold five pixels and the first byte of the sixth, which the
  // next store writes again.
  for (; I + 6 <= Count; I += 5) {
    TBytes V;
    std::memcpy(&V, In + 3 * I, 16);
    V = __builtin_shufflevector(V, V, 2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::memcpy(Out + 3 * I, &V, 16);
  }
  SwapRedBlue24Plain(In + 3 * I, Out + 3 * I, Count - I);
}
#endif

void SwapRedBlue(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count, int Bpp) {
  if (Bpp == 3) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool Shuffle = __builtin_cpu_supports("ssse3");
    if (Shuffle && In != Out) {
      SwapRedBlue24Shuffle(In, Out, Count);
      return;
    }
#endif
    SwapRedBlue24Plain(In, Out, Count);
    return;
  }
  for (std::size_t I = 0; I < Count; ++I, In += 4, Out += 4) {
    std::uint32_t V;
    std::memcpy(&V, In, 4);
    V = (V & 0xFF00FF00u) | ((V >> 16) & 0xFFu) | ((V & 0xFFu) << 16);
    std::memcpy(Out, &V, 4);
  }
}

void DecodeRows(const TTiffFile& F, const TPage& P, TDecodeSink& Sink) {
  const std::size_t W = P.Width;
  const bool Inks = P.Photometric == PHOTOMETRIC_SEPARATED;
  const bool Gray = P.Samples == 1;
  std::unique_ptr<TColorTransform> InkProfile;
  if (Inks)
    InkProfile = TColorTransform::ToSrgb(Profile(F), ppCMYK8);
  else
    Sink.SetProfile(Profile(F));
  Sink.SetGrayInverted(P.Photometric == PHOTOMETRIC_MINISWHITE);
  TDecodeSink::TRows Kind = Gray ? TDecodeSink::rkGray8 : TDecodeSink::rkBGR8;
  if (P.Alpha) Kind = P.Alpha == EXTRASAMPLE_ASSOCALPHA ? TDecodeSink::rkBGRA8Premultiplied : TDecodeSink::rkBGRA8;
  Sink.Start(static_cast<std::int32_t>(P.Width), static_cast<std::int32_t>(P.Height), Kind);
  const int Bpp = Sink.RowBytesPerPixel();
  // The rows read must hold what the row kind converts: one sample for each
  // byte of the kind (inks: four of them make three bytes).
  if (P.Samples != (Inks ? Bpp + 1 : Bpp)) Fail("samples do not match the colours");
  const std::size_t Samples = W * P.Samples, SampleBytes = P.Bits / 8;
  if (static_cast<std::uint64_t>(TIFFScanlineSize64(*F)) != Samples * SampleBytes) Fail(F.Error("row size"));
  // Rows are read into a buffer that stays in the cache and converted from it
  // into the bitmap; gray rows need no conversion and are read in place.
  std::vector<std::uint8_t> Row(Samples), Wide(SampleBytes > 1 ? Samples * SampleBytes : 0),
      Out(Gray ? 0 : W * static_cast<std::size_t>(Bpp));
  const auto ConvertInks = [&](const std::uint8_t* In, std::uint8_t* To, std::size_t Count) {
    if (InkProfile)
      InkProfile->Convert(In, To, Count);
    else
      CmykToBgr(In, To, Count, false);
  };
  for (std::uint32_t Y = 0; Y < P.Height; ++Y) {
    std::uint8_t* Direct = Sink.DirectRow(static_cast<std::int32_t>(Y));
    std::uint8_t* Target = Direct && Gray ? Direct : Row.data();
    if (TIFFReadScanline(*F, Wide.empty() ? Target : Wide.data(), Y, 0) < 0) Fail(F.Error("damaged pixel data"));
    if (!Wide.empty()) NarrowSamples(Wide.data(), Target, Samples);
    if (!Gray) {
      std::uint8_t* Converted = Direct ? Direct : Out.data();
      if (!Inks)
        SwapRedBlue(Row.data(), Converted, W, Bpp);
      else if (P.Alpha)
        ConvertInksWithAlpha(Row.data(), Converted, W, ConvertInks);
      else
        ConvertInks(Row.data(), Converted, W);
      Target = Converted;
    }
    if (Direct)
      Sink.Placed(static_cast<std::int32_t>(Y));
    else
      Sink.Put(static_cast<std::int32_t>(Y), Target);
    Sink.RowsDone(static_cast<std::int32_t>(Y + 1));
  }
}

// Every other page, through libtiff's RGBA reader in bands of whole strips or
// tiles: colours made 8-bit, alpha premultiplied, inks converted by libtiff.
void DecodeRgba(const TTiffFile& F, const TPage& P, TDecodeSink& Sink) {
  char Message[1024] = {};
  TIFFRGBAImage Image{};
  if (!TIFFRGBAImageOK(*F, Message) || !TIFFRGBAImageBegin(&Image, *F, 1, Message))
    Fail(F.Error(Message[0] ? Message : "unsupported picture layout"));
  struct TEnd {
    TIFFRGBAImage* I;
    ~TEnd() { TIFFRGBAImageEnd(I); }
  } End{&Image};
  // The rows in the file's own order; the sink turns them.
  Image.req_orientation = Image.orientation;
  if (P.Photometric != PHOTOMETRIC_SEPARATED) Sink.SetProfile(Profile(F));
  Sink.Start(static_cast<std::int32_t>(P.Width), static_cast<std::int32_t>(P.Height),
             Image.alpha ? TDecodeSink::rkBGRA8Premultiplied : TDecodeSink::rkBGRX8);
  std::uint32_t Band = 0;
  if (P.Tiled)
    TIFFGetField(*F, TIFFTAG_TILELENGTH, &Band);
  else
    Band = F.Field<std::uint32_t>(TIFFTAG_ROWSPERSTRIP);
  Band = std::clamp<std::uint32_t>(Band, 1, P.Height);
  const std::size_t W = P.Width;
  std::vector<std::uint32_t> Buffer;
  for (std::uint32_t Y = 0; Y < P.Height; Y += Band) {
    const std::uint32_t N = std::min(Band, P.Height - Y);
    // Rows of a 32-bit bitmap lie back to back: an upright band goes straight in.
    auto* Direct = reinterpret_cast<std::uint32_t*>(Sink.DirectRow(static_cast<std::int32_t>(Y)));
    if (!Direct) Buffer.resize(W * N);
    std::uint32_t* Raster = Direct ? Direct : Buffer.data();
    Image.row_offset = static_cast<int>(Y);
    Image.col_offset = 0;
    const bool Ok = TIFFRGBAImageGet(&Image, Raster, P.Width, N) != 0;
    for (std::uint32_t K = 0; K < N; ++K) {
      auto* Row = reinterpret_cast<std::uint8_t*>(Raster + K * W);
      SwapRedBlue(Row, Row, W, 4);
      if (Direct)
        Sink.Placed(static_cast<std::int32_t>(Y + K));
      else
        Sink.Put(static_cast<std::int32_t>(Y + K), Row);
    }
    if (!Ok) Fail(F.Error("damaged pixel data"));
    Sink.RowsDone(static_cast<std::int32_t>(Y + N));
  }
}

}  // namespace

TTIFFImage::TTIFFImage() = default;
TTIFFImage::~TTIFFImage() = default;

TDecodedGraphic::THeader TTIFFImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  const TTiffFile F(Bytes);
  const TPage P = ReadPage(F);
  if (!TIFFIsCODECConfigured(P.Compression)) Fail("compression " + std::to_string(P.Compression) + " not supported");
  char Message[1024] = {};
  if (!DirectRows(P) && !TIFFRGBAImageOK(*F, Message)) Fail(Message[0] ? Message : "unsupported picture layout");
  THeader H;
  H.Width = static_cast<std::int32_t>(P.Width);
  H.Height = static_cast<std::int32_t>(P.Height);
  H.Orientation = OrientationFromValue(P.Orientation);
  H.Alpha = P.Alpha != 0;
  return H;
}

void TTIFFImage::DecodePixels(std::span<const std::uint8_t> Bytes, TDecodeSink& Sink) {
  const TTiffFile F(Bytes);
  const TPage P = ReadPage(F);
  if (DirectRows(P))
    DecodeRows(F, P, Sink);
  else
    DecodeRgba(F, P, Sink);
}
