// GIF files made with giflib's own encoder for the GIF tests and benchmark.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <gif_lib.h>

struct TGifFrameSpec {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int DelayCs = 10;  // hundredths of a second
  int Disposal = DISPOSAL_UNSPECIFIED;
  int TransparentIndex = NO_TRANSPARENT_COLOR;
  bool Interlaced = false;
  bool Control = true;  // whether a graphic-control block precedes the frame
  std::function<int(int X, int Y)> Index;  // within the frame
};

struct TGifFileSpec {
  int Width = 16, Height = 12;
  std::vector<std::uint32_t> Colors{0x000000, 0xFF0000, 0x00FF00, 0x0000FF};  // 0x00RRGGBB, a power of two
  int Loops = -1;  // -1: no loop block; 0: for ever
  std::vector<TGifFrameSpec> Frames;
};

inline std::vector<std::uint8_t> MakeGif(const TGifFileSpec& S) {
  std::vector<std::uint8_t> Out;
  int Error = 0;
  GifFileType* G = EGifOpen(&Out,
                            [](GifFileType* F, const GifByteType* D, int N) {
                              auto* V = static_cast<std::vector<std::uint8_t>*>(F->UserData);
                              V->insert(V->end(), D, D + N);
                              return N;
                            },
                            &Error);
  std::vector<GifColorType> Table;
  for (std::uint32_t C : S.Colors)
    Table.push_back(GifColorType{static_cast<GifByteType>(C >> 16), static_cast<GifByteType>(C >> 8), static_cast<GifByteType>(C)});
  ColorMapObject* Map = GifMakeMapObject(static_cast<int>(Table.size()), Table.data());
  EGifSetGifVersion(G, true);
  EGifPutScreenDesc(G, S.Width, S.Height, 8, 0, Map);
  if (S.Loops >= 0) {
    const GifByteType Loop[3] = {1, static_cast<GifByteType>(S.Loops & 0xFF), static_cast<GifByteType>(S.Loops >> 8)};
    EGifPutExtensionLeader(G, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(G, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(G, 3, Loop);
    EGifPutExtensionTrailer(G);
  }
  for (const TGifFrameSpec& F : S.Frames) {
    if (F.Control) {
      GraphicsControlBlock Gcb{F.Disposal, false, F.DelayCs, F.TransparentIndex};
      GifByteType Ext[4];
      const std::size_t Len = EGifGCBToExtension(&Gcb, Ext);
      EGifPutExtension(G, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(Len), Ext);
    }
    EGifPutImageDesc(G, F.Left, F.Top, F.Width, F.Height, F.Interlaced, nullptr);
    std::vector<GifPixelType> Row(static_cast<std::size_t>(F.Width));
    static constexpr int Start[4] = {0, 4, 2, 1}, Step[4] = {8, 8, 4, 2};
    for (int Pass = 0; Pass < (F.Interlaced ? 4 : 1); ++Pass)
      for (int Y = F.Interlaced ? Start[Pass] : 0; Y < F.Height; Y += F.Interlaced ? Step[Pass] : 1) {
        for (int X = 0; X < F.Width; ++X) Row[static_cast<std::size_t>(X)] = static_cast<GifPixelType>(F.Index(X, Y));
        EGifPutLine(G, Row.data(), F.Width);
      }
  }
  EGifCloseFile(G, &Error);
  GifFreeMapObject(Map);
  return Out;
}
