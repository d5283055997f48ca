#include "picture/gif/Gif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>

#include <gif_lib.h>

#include "picture/FileFormats.h"
#include "picture/Limits.h"
#include "toolkit/SysUtils.h"

KEST_CLASS_IMPL(TGifImage, TDecodedGraphic)

bool TGifImage::HasSignature(std::span<const std::uint8_t> Head) {
  return HeadHas(Head, 0, "GIF87a") || HeadHas(Head, 0, "GIF89a");
}

void InitializeGifSupport() {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  Formats.UnregisterClass(TGifImage::StaticClass());
  Formats.RegisterSignature(TGifImage::StaticClass(), &TGifImage::HasSignature);
  Formats.RegisterFormat("gif", "GIF Image File", TGifImage::StaticClass());
}

void FinalizeGifSupport() { TFileFormatsList::Instance().UnregisterClass(TGifImage::StaticClass()); }

namespace {

// All frames of a file together may not decode more pixels than this: those
// kept, and those decoded only to reach them (beside or above the canvas).
constexpr std::uint64_t MaxFramePixels = std::uint64_t{1} << 28;

[[noreturn]] void Fail(int Code) {
  const char* Reason = GifErrorString(Code);
  throw EGIF(Format("GIF image is not valid (%s)", {std::string(Reason ? Reason : "unknown error")}));
}

// Reads from bytes in memory.
struct TSource {
  std::span<const std::uint8_t> Bytes;
  std::size_t At = 0;
};

int ReadBytes(GifFileType* G, GifByteType* Out, int Count) {
  auto* S = static_cast<TSource*>(G->UserData);
  const std::size_t N = std::min<std::size_t>(static_cast<std::size_t>(std::max(Count, 0)), S->Bytes.size() - S->At);
  if (N == 0) return 0;
  std::memcpy(Out, S->Bytes.data() + S->At, N);
  S->At += N;
  return static_cast<int>(N);
}

struct TGifClose {
  void operator()(GifFileType* G) const {
    int Error = 0;
    DGifCloseFile(G, &Error);
  }
};
using TGif = std::unique_ptr<GifFileType, TGifClose>;

TGif Open(TSource& Source) {
  int Error = 0;
  GifFileType* G = DGifOpen(&Source, ReadBytes, &Error);
  if (!G) Fail(Error);
  TGif Gif(G);
  if (G->SWidth <= 0 || G->SHeight <= 0) throw EGIF("GIF image is not valid (empty picture)");
  if (std::uint64_t(G->SWidth) * std::uint64_t(G->SHeight) > MaxPicturePixels)
    throw EGIF(Format("GIF image is too large (%d x %d)", {G->SWidth, G->SHeight}));
  return Gif;
}

// Gives new elements no value: a frame's rows are written as they are read
// and only rows read are shown, so the rows a file does not give take no memory.
template <class T>
struct TUninitialised : std::allocator<T> {
  TUninitialised() = default;
  template <class U>
  TUninitialised(const TUninitialised<U>&) noexcept {}
  template <class U>
  void construct(U*) noexcept {}
};

// A frame's pixels are turned into colours once, when the file is read, so
// that showing a frame is a copy of its rows.
struct TFrame {
  TFrameInfo Info;
  std::int32_t Width = 0;
  std::vector<std::uint32_t, TUninitialised<std::uint32_t>> Pixels;  // premultiplied 0xAARRGGBB
  std::vector<bool> RowRead;
  bool AnyTransparent = false;
};

// Premultiplied colours of a frame's table: opaque entries, the transparent
// index 0, and opaque black for indices the table does not have.
std::array<std::uint32_t, 256> ColorsOf(const ColorMapObject* Map, int TransparentIndex) {
  std::array<std::uint32_t, 256> Colors;
  Colors.fill(0xFF000000u);
  if (Map && Map->Colors)
    for (int I = 0; I < std::min(Map->ColorCount, 256); ++I) {
      const GifColorType& C = Map->Colors[I];
      Colors[static_cast<std::size_t>(I)] = 0xFF000000u | std::uint32_t{C.Red} << 16 | std::uint32_t{C.Green} << 8 | C.Blue;
    }
  if (TransparentIndex >= 0 && TransparentIndex < 256) Colors[static_cast<std::size_t>(TransparentIndex)] = 0;
  return Colors;
}

class TGifFrames : public TFrameSource {
 public:
  int FrameCount() const override { return static_cast<int>(FFrames.size()); }
  int LoopCount() const override { return FLoops; }
  TFrameInfo Frame(int Index) const override { return FFrames[static_cast<std::size_t>(Index)].Info; }
  void Render(int Index, TFrameCompositor& C) override {
    const TFrame& F = FFrames[static_cast<std::size_t>(Index)];
    for (std::int32_t Y = 0; Y < F.Info.Rect.Height(); ++Y)
      if (F.RowRead[static_cast<std::size_t>(Y)])
        C.PutRow(Y, F.Pixels.data() + static_cast<std::size_t>(Y) * static_cast<std::size_t>(F.Width),
                 F.AnyTransparent);
  }

  // Reads every frame; returns the library's error code of a read that failed,
  // 0 at the file's end. Calls Check between frames and rows, which may raise
  // to stop the reading.
  int Read(GifFileType* G, const std::function<void()>& Check);

 private:
  int ReadImage(GifFileType* G, const GraphicsControlBlock& Control, std::uint64_t& Budget,
                const std::function<void()>& Check);
  void ReadExtension(int Code, const GifByteType* Data, GraphicsControlBlock& Control, bool& LoopBlockNext);

  std::vector<TFrame> FFrames;
  // Played once unless the file asks for more; 0 for ever.
  int FLoops = 1;
};

int TGifFrames::Read(GifFileType* G, const std::function<void()>& Check) {
  GraphicsControlBlock Control{0, false, 0, NO_TRANSPARENT_COLOR};
  std::uint64_t Budget = MaxFramePixels;
  for (;;) {
    Check();
    GifRecordType Type;
    if (DGifGetRecordType(G, &Type) == GIF_ERROR) return G->Error;
    if (Type == TERMINATE_RECORD_TYPE) return 0;
    if (Type == IMAGE_DESC_RECORD_TYPE) {
      if (const int E = ReadImage(G, Control, Budget, Check)) return E;
      Control = GraphicsControlBlock{0, false, 0, NO_TRANSPARENT_COLOR};
    } else if (Type == EXTENSION_RECORD_TYPE) {
      int Code = 0;
      GifByteType* Data = nullptr;
      bool LoopBlockNext = false;
      if (DGifGetExtension(G, &Code, &Data) == GIF_ERROR) return G->Error;
      while (Data) {
        if (LoopBlockNext && Data[0] >= 3 && Data[1] == 1) {
          // The application block's count of plays after the first; 0 for ever.
          const int N = Data[2] | Data[3] << 8;
          FLoops = N == 0 ? 0 : N + 1;
        }
        ReadExtension(Code, Data, Control, LoopBlockNext);
        Code = CONTINUE_EXT_FUNC_CODE;
        if (DGifGetExtensionNext(G, &Data) == GIF_ERROR) return G->Error;
      }
    }
  }
}

void TGifFrames::ReadExtension(int Code, const GifByteType* Data, GraphicsControlBlock& Control,
                               bool& LoopBlockNext) {
  if (Code == GRAPHICS_EXT_FUNC_CODE && Data[0] >= 4) DGifExtensionToGCB(Data[0], Data + 1, &Control);
  if (Code == APPLICATION_EXT_FUNC_CODE)
    LoopBlockNext = Data[0] == 11 && (std::memcmp(Data + 1, "NETSCAPE2.0", 11) == 0 ||
                                      std::memcmp(Data + 1, "ANIMEXTS1.0", 11) == 0);
  else if (Code == CONTINUE_EXT_FUNC_CODE && LoopBlockNext)
    LoopBlockNext = false;
}

// Passes over the rest of a frame's compressed data without decoding it.
int SkipImageData(GifFileType* G) {
  GifByteType* Block = nullptr;
  do
    if (DGifGetCodeNext(G, &Block) == GIF_ERROR) return G->Error ? G->Error : D_GIF_ERR_READ_FAILED;
  while (Block);
  return 0;
}

int TGifFrames::ReadImage(GifFileType* G, const GraphicsControlBlock& Control, std::uint64_t& Budget,
                          const std::function<void()>& Check) {
  if (DGifGetImageDesc(G) == GIF_ERROR) return G->Error;
  const GifImageDesc& D = G->Image;
  if (D.Width <= 0 || D.Height <= 0) return D_GIF_ERR_WRONG_RECORD;
  // Only the part on the canvas is kept, and only the rows up to its last are
  // decoded (all of them when interlaced: each pass runs down the whole frame).
  const TRect Full = Bounds(D.Left, D.Top, D.Width, D.Height);
  const TRect Visible = IntersectRect(Full, TRect{0, 0, G->SWidth, G->SHeight});
  const std::uint64_t Pixels = std::uint64_t(Visible.Width()) * std::uint64_t(Visible.Height());
  const int Rows = Visible.IsEmpty() ? 0 : D.Interlace ? D.Height : Visible.Bottom - Full.Top;
  const std::uint64_t Decoded = std::uint64_t(D.Width) * std::uint64_t(Rows);
  if (Decoded > Budget) return D_GIF_ERR_NOT_ENOUGH_MEM;
  Budget -= Decoded;
  TFrame F;
  F.Width = Visible.Width();
  F.Info.Rect = Visible;
  F.Info.Delay = static_cast<std::uint32_t>(std::max(Control.DelayTime, 0)) * 10;
  F.Info.Disposal = Control.DisposalMode == DISPOSE_BACKGROUND ? fdBackground
                    : Control.DisposalMode == DISPOSE_PREVIOUS ? fdPrevious
                                                               : fdKeep;
  F.Info.Blend = true;
  const auto Colors = ColorsOf(D.ColorMap ? D.ColorMap : G->SColorMap, Control.TransparentColor);
  F.AnyTransparent = Control.TransparentColor >= 0 && Control.TransparentColor < 256;
  F.Pixels.resize(static_cast<std::size_t>(Pixels));
  F.RowRead.assign(static_cast<std::size_t>(Visible.Height()), false);
  std::vector<GifPixelType> Line(static_cast<std::size_t>(D.Width));
  const int Skip = Visible.Left - Full.Left;
  // Interlaced frames give their rows in four passes.
  static constexpr int Start[4] = {0, 4, 2, 1}, Step[4] = {8, 8, 4, 2};
  int Error = 0;
  for (int Pass = 0; Pass < (D.Interlace ? 4 : 1) && !Error; ++Pass)
    for (int Y = D.Interlace ? Start[Pass] : 0; Y < Rows; Y += D.Interlace ? Step[Pass] : 1) {
      Check();
      if (DGifGetLine(G, Line.data(), D.Width) == GIF_ERROR) {
        Error = G->Error ? G->Error : D_GIF_ERR_DATA_TOO_BIG;
        break;
      }
      const int Vy = Full.Top + Y - Visible.Top;
      if (Vy < 0 || Vy >= Visible.Height()) continue;
      std::uint32_t* Row = F.Pixels.data() + static_cast<std::size_t>(Vy) * static_cast<std::size_t>(F.Width);
      for (int X = 0; X < F.Width; ++X) Row[X] = Colors[Line[static_cast<std::size_t>(X + Skip)]];
      F.RowRead[static_cast<std::size_t>(Vy)] = true;
    }
  // The rows below the canvas (or the whole frame, wholly off it) are passed over.
  if (!Error && Rows < D.Height) Error = SkipImageData(G);
  // A frame cut short keeps the rows it has.
  FFrames.push_back(std::move(F));
  return Error;
}

}  // namespace

TGifImage::TGifImage() = default;

TDecodedGraphic::THeader TGifImage::ReadHeader(std::span<const std::uint8_t> Bytes) const {
  TSource Source{Bytes};
  const TGif G = Open(Source);
  // Whether any frame is transparent is known only once the frames are read.
  return THeader{G->SWidth, G->SHeight, true};
}

std::unique_ptr<TFrameSource> TGifImage::OpenFrames(std::span<const std::uint8_t> Bytes) {
  TSource Source{Bytes};
  const TGif G = Open(Source);
  auto Frames = std::make_unique<TGifFrames>();
  const int Error = Frames->Read(G.get(), [this] { CheckCancelled(); });
  // The first frame, whole, is what a still picture needs; damage after it
  // only ends the animation early.
  if (Frames->FrameCount() == 0) Fail(Error ? Error : D_GIF_ERR_NO_IMAG_DSCR);
  if (Error && Frames->FrameCount() == 1) {
    // Shown with the rows it has, then reported once.
    class TFirstFrameCut : public TFrameSource {
     public:
      TFirstFrameCut(std::unique_ptr<TGifFrames> F, int E) : FFrames(std::move(F)), FError(E) {}
      int FrameCount() const override { return 1; }
      int LoopCount() const override { return 1; }
      TFrameInfo Frame(int) const override { return FFrames->Frame(0); }
      void Render(int, TFrameCompositor& C) override {
        FFrames->Render(0, C);
        if (FError != D_GIF_ERR_READ_FAILED) Fail(FError);
      }

     private:
      std::unique_ptr<TGifFrames> FFrames;
      int FError;
    };
    return std::make_unique<TFirstFrameCut>(std::move(Frames), Error);
  }
  return Frames;
}
