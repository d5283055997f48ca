#include "toolkit/Blit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <thread>
#include <vector>

#include <QImage>
#include <QRegion>

namespace {

// Scales a masked channel value to 8 bits.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;

  explicit TChannel(std::uint32_t M) : Mask(M) {
    if (M) {
      Shift = std::countr_zero(M);
      Max = M >> Shift;
    }
  }
  std::uint32_t Get(std::uint32_t V) const {
    if (!Max) return 0;
    const std::uint32_t C = (V & Mask) >> Shift;
    return Max == 255 ? C : static_cast<std::uint32_t>((std::uint64_t{C} * 255 + Max / 2) / Max);
  }
};

struct TMasks {
  TChannel R, G, B;
};

TMasks MasksOf(const TPixelView& S) {
  if (S.RedMask || S.GreenMask || S.BlueMask) return {TChannel(S.RedMask), TChannel(S.GreenMask), TChannel(S.BlueMask)};
  if (S.BitsPerPixel == 16) return {TChannel(0x7C00), TChannel(0x03E0), TChannel(0x001F)};
  return {TChannel(0xFF0000), TChannel(0x00FF00), TChannel(0x0000FF)};
}

bool DefaultMasks32(const TPixelView& S) {
  return S.BitsPerPixel == 32 && ((!S.RedMask && !S.GreenMask && !S.BlueMask) ||
                                  (S.RedMask == 0xFF0000 && S.GreenMask == 0xFF00 && S.BlueMask == 0xFF));
}

// Fetches pixels of one source row as 0xFFRRGGBB.
class TRowReader {
 public:
  TRowReader(const TPixelView& S, const TBlitOptions& O) : FSrc(S), FMasks(MasksOf(S)) {
    FLut.fill(0xFF000000u);
    if (S.BitsPerPixel <= 8) {
      const int N = 1 << S.BitsPerPixel;
      for (int I = 0; I < N && I < S.PaletteSize; ++I) FLut[static_cast<std::size_t>(I)] = 0xFF000000u | S.Palette[I];
      if (S.BitsPerPixel == 1) {
        if (O.MonoForeground) FLut[0] = 0xFF000000u | *O.MonoForeground;
        if (O.MonoBackground) FLut[1] = 0xFF000000u | *O.MonoBackground;
      }
    }
  }

  std::uint32_t At(const std::uint8_t* Row, std::int32_t X) const {
    switch (FSrc.BitsPerPixel) {
      case 1: return FLut[(Row[X >> 3] >> (7 - (X & 7))) & 1];
      case 4: return FLut[(Row[X >> 1] >> ((X & 1) ? 0 : 4)) & 0xF];
      case 8: return FLut[Row[X]];
      case 16: return Masked(static_cast<std::uint32_t>(Row[2 * X] | (Row[2 * X + 1] << 8)));
      case 24: {
        const std::uint8_t* P = Row + 3 * static_cast<std::ptrdiff_t>(X);
        return 0xFF000000u | (std::uint32_t{P[2]} << 16) | (std::uint32_t{P[1]} << 8) | P[0];
      }
      default: {
        std::uint32_t V;
        std::memcpy(&V, Row + 4 * static_cast<std::ptrdiff_t>(X), 4);
        return FDefault32 ? (0xFF000000u | V) : Masked(V);
      }
    }
  }

  // Reads the columns Cols[0..N) of Row into Out.
  void Gather(const std::uint8_t* Row, const std::int32_t* Cols, int N, std::uint32_t* Out) const {
    if (FSrc.BitsPerPixel == 32 && FDefault32) {
      // Byte copies: rows of a view need not be aligned to whole words.
      for (int I = 0; I < N; ++I) {
        std::uint32_t V;
        std::memcpy(&V, Row + 4 * static_cast<std::ptrdiff_t>(Cols[I]), 4);
        Out[I] = 0xFF000000u | V;
      }
    } else if (FSrc.BitsPerPixel == 8) {
      for (int I = 0; I < N; ++I) Out[I] = FLut[Row[Cols[I]]];
    } else if (FSrc.BitsPerPixel == 24) {
      for (int I = 0; I < N; ++I) {
        const std::uint8_t* P = Row + 3 * static_cast<std::ptrdiff_t>(Cols[I]);
        Out[I] = 0xFF000000u | (std::uint32_t{P[2]} << 16) | (std::uint32_t{P[1]} << 8) | P[0];
      }
    } else {
      for (int I = 0; I < N; ++I) Out[I] = At(Row, Cols[I]);
    }
  }

 private:
  std::uint32_t Masked(std::uint32_t V) const {
    return 0xFF000000u | (FMasks.R.Get(V) << 16) | (FMasks.G.Get(V) << 8) | FMasks.B.Get(V);
  }

  const TPixelView& FSrc;
  TMasks FMasks;
  bool FDefault32 = DefaultMasks32(FSrc);
  std::array<std::uint32_t, 256> FLut{};
};

// Copies N pixels, making each opaque (32-bit sources may carry anything in
// their top byte); the source need not be aligned to whole words.
void OrOpaque(std::uint32_t* __restrict Out, const std::uint8_t* __restrict In, int N) {
  for (int I = 0; I < N; ++I) {
    std::uint32_t V;
    std::memcpy(&V, In + 4 * static_cast<std::ptrdiff_t>(I), 4);
    Out[I] = V | 0xFF000000u;
  }
}

// Blends N source pixels (alpha in the top byte) over the opaque target.
void BlendOver(std::uint32_t* Out, const std::uint8_t* Row, const std::int32_t* Cols, int N, bool Premultiplied) {
  for (int I = 0; I < N; ++I) {
    std::uint32_t V;
    std::memcpy(&V, Row + 4 * static_cast<std::ptrdiff_t>(Cols[I]), 4);
    const std::uint32_t A = V >> 24;
    if (A == 255 && !Premultiplied) {
      Out[I] = V;
      continue;
    }
    const std::uint32_t D = Out[I];
    std::uint32_t R = 0xFF000000u;
    for (int Shift = 0; Shift < 24; Shift += 8) {
      const std::uint32_t S = (V >> Shift) & 0xFF, T = (D >> Shift) & 0xFF;
      const std::uint32_t C = Premultiplied ? std::min<std::uint32_t>(255, S + (T * (255 - A) + 127) / 255)
                                            : (S * A + T * (255 - A) + 127) / 255;
      R |= C << Shift;
    }
    Out[I] = R;
  }
}

// Source coordinate for target offset D of a span of DstSize showing SrcSize.
inline std::int64_t MapCoord(std::int64_t D, std::int64_t SrcSize, std::int64_t DstSize) {
  if (SrcSize == DstSize) return D;
  return ((2 * D + 1) * SrcSize) / (2 * DstSize);
}

struct TJob {
  std::uint8_t* DstBits;  // detached before any thread starts
  std::ptrdiff_t DstStride;
  const TPixelView* Src;
  const TBlitOptions* Options;
  const TRowReader* Reader;
  TRect DstRect, SrcRect;
};

// Copies the target area A (already inside Dst and the clip) row by row.
void CopyArea(const TJob& J, const TRect& A, std::int32_t RowFrom, std::int32_t RowTo) {
  const std::int32_t Dw = J.DstRect.Width(), Dh = J.DstRect.Height();
  const std::int32_t Sw = J.SrcRect.Width(), Sh = J.SrcRect.Height();
  const TPixelView& S = *J.Src;
  const int N = A.Width();
  // Column table: the first and last target columns whose source lies inside Src.
  std::vector<std::int32_t> Cols(static_cast<std::size_t>(N));
  int First = N, Last = -1;
  for (int I = 0; I < N; ++I) {
    const std::int64_t Sx = J.SrcRect.Left + MapCoord(A.Left + I - J.DstRect.Left, Sw, Dw);
    const bool Inside = Sx >= 0 && Sx < S.Width;
    Cols[static_cast<std::size_t>(I)] = Inside ? static_cast<std::int32_t>(Sx) : -1;
    if (Inside) {
      First = std::min(First, I);
      Last = I;
    }
  }
  if (Last < 0) return;
  // Columns outside the source can only lie at the ends of a monotonic mapping.
  const int Count = Last - First + 1;
  const std::int32_t* ColPtr = Cols.data() + First;
  const bool Blend = J.Options->Alpha != TBlitOptions::alNone && DefaultMasks32(S);
  const bool Identity32 = DefaultMasks32(S) && Sw == Dw && !J.Options->TransparentColor && !Blend;
  std::vector<std::uint32_t> Line(J.Options->TransparentColor ? static_cast<std::size_t>(Count) : 0);
  std::int64_t PrevSy = -1;
  std::uint32_t* PrevOut = nullptr;
  for (std::int32_t Y = RowFrom; Y < RowTo; ++Y) {
    const std::int64_t Sy = J.SrcRect.Top + MapCoord(Y - J.DstRect.Top, Sh, Dh);
    if (Sy < 0 || Sy >= S.Height) {
      PrevSy = -1;
      continue;
    }
    auto* Out = reinterpret_cast<std::uint32_t*>(J.DstBits + Y * J.DstStride) + A.Left + First;
    if (Sy == PrevSy && !J.Options->TransparentColor && !Blend) {
      std::memcpy(Out, PrevOut, static_cast<std::size_t>(Count) * 4);
      continue;
    }
    const std::uint8_t* Row = S.Bits + Sy * S.Stride;
    if (Blend) {
      BlendOver(Out, Row, ColPtr, Count, J.Options->Alpha == TBlitOptions::alPremultiplied);
    } else if (Identity32) {
      OrOpaque(Out, Row + 4 * static_cast<std::ptrdiff_t>(ColPtr[0]), Count);
    } else if (J.Options->TransparentColor) {
      const std::uint32_t Tc = *J.Options->TransparentColor & 0xFFFFFF;
      J.Reader->Gather(Row, ColPtr, Count, Line.data());
      for (int I = 0; I < Count; ++I)
        if ((Line[static_cast<std::size_t>(I)] & 0xFFFFFF) != Tc) Out[I] = Line[static_cast<std::size_t>(I)];
    } else {
      J.Reader->Gather(Row, ColPtr, Count, Out);
    }
    PrevSy = Sy;
    PrevOut = Out;
  }
}

// Averages the source pixels under each target pixel.
void HalftoneArea(const TJob& J, const TRect& A) {
  const std::int64_t Dw = J.DstRect.Width(), Dh = J.DstRect.Height();
  const std::int64_t Sw = J.SrcRect.Width(), Sh = J.SrcRect.Height();
  const TPixelView& S = *J.Src;
  auto Span = [](std::int64_t D, std::int64_t SrcSize, std::int64_t DstSize, std::int64_t& From, std::int64_t& To) {
    From = D * SrcSize / DstSize;
    To = std::max(From + 1, (D + 1) * SrcSize / DstSize);
  };
  for (std::int32_t Y = A.Top; Y < A.Bottom; ++Y) {
    std::int64_t Y0, Y1;
    Span(Y - J.DstRect.Top, Sh, Dh, Y0, Y1);
    auto* Out = reinterpret_cast<std::uint32_t*>(J.DstBits + Y * J.DstStride);
    for (std::int32_t X = A.Left; X < A.Right; ++X) {
      std::int64_t X0, X1;
      Span(X - J.DstRect.Left, Sw, Dw, X0, X1);
      std::uint64_t R = 0, G = 0, B = 0, N = 0;
      for (std::int64_t Sy = J.SrcRect.Top + Y0; Sy < J.SrcRect.Top + Y1; ++Sy) {
        if (Sy < 0 || Sy >= S.Height) continue;
        const std::uint8_t* Row = S.Bits + Sy * S.Stride;
        for (std::int64_t Sx = J.SrcRect.Left + X0; Sx < J.SrcRect.Left + X1; ++Sx) {
          if (Sx < 0 || Sx >= S.Width) continue;
          const std::uint32_t P = J.Reader->At(Row, static_cast<std::int32_t>(Sx));
          R += (P >> 16) & 0xFF;
          G += (P >> 8) & 0xFF;
          B += P & 0xFF;
          ++N;
        }
      }
      if (N) Out[X] = 0xFF000000u | static_cast<std::uint32_t>(((R + N / 2) / N) << 16) |
                      static_cast<std::uint32_t>(((G + N / 2) / N) << 8) | static_cast<std::uint32_t>((B + N / 2) / N);
    }
  }
}

template <class F>
void ForEachClipRect(const QImage& Dst, const TRect& Area, const QRegion* Clip, F&& Fn) {
  const TRect Bounds = IntersectRect(Area, TRect{0, 0, Dst.width(), Dst.height()});
  if (Bounds.IsEmpty()) return;
  if (!Clip) {
    Fn(Bounds);
    return;
  }
  for (const QRect& Q : *Clip) {
    const TRect R = IntersectRect(Bounds, TRect{Q.left(), Q.top(), Q.right() + 1, Q.bottom() + 1});
    if (!R.IsEmpty()) Fn(R);
  }
}

}  // namespace

std::uint32_t TPixelView::PixelAt(std::int32_t X, std::int32_t Y) const {
  if (X < 0 || Y < 0 || X >= Width || Y >= Height) return 0;
  TBlitOptions O;
  TRowReader R(*this, O);
  return R.At(Bits + Y * Stride, X) & 0xFFFFFF;
}

void StretchBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TPixelView& Src, const TRect& SrcRect,
                const TBlitOptions& Options) {
  if (DstRect.IsEmpty() || SrcRect.IsEmpty() || !Src.Bits || Src.Width <= 0 || Src.Height <= 0) return;
  if (Dst.isNull() || Dst.depth() != 32) return;
  const TRowReader Reader(Src, Options);
  const TJob Job{Dst.bits(), Dst.bytesPerLine(), &Src, &Options, &Reader, DstRect, SrcRect};
  ForEachClipRect(Dst, DstRect, Clip, [&](const TRect& A) {
    if (Options.Halftone) {
      HalftoneArea(Job, A);
      return;
    }
    // Plain copies are bound by memory bandwidth and gain nothing from a
    // second thread; stretched copies compute per pixel and do.
    const bool Plain = SrcRect.Width() == DstRect.Width() && SrcRect.Height() == DstRect.Height() &&
                       DefaultMasks32(Src) && !Options.TransparentColor && Options.Alpha == TBlitOptions::alNone;
    // A strong reduction reads one cache line per target pixel and waits on
    // memory: it gains from a second thread already for small targets.
    const bool Sparse = std::int64_t{SrcRect.Width()} >= 8 * std::int64_t{DstRect.Width()};
    const std::int64_t Pixels = std::int64_t{A.Width()} * A.Height();
    const std::int64_t Threshold = Sparse ? (1 << 15) : (1 << 19);
    if (Plain || Pixels < Threshold || A.Height() < 64 || std::thread::hardware_concurrency() < 2) {
      CopyArea(Job, A, A.Top, A.Bottom);
      return;
    }
    // Two halves on two cores: each row is written by exactly one thread.
    const std::int32_t Mid = A.Top + A.Height() / 2;
    std::thread Worker([&] { CopyArea(Job, A, Mid, A.Bottom); });
    CopyArea(Job, A, A.Top, Mid);
    Worker.join();
  });
}

void FillPixels(QImage& Dst, const TRect& R, const QRegion* Clip, std::uint32_t Pixel) {
  if (Dst.isNull() || Dst.depth() != 32) return;
  ForEachClipRect(Dst, R, Clip, [&](const TRect& A) {
    for (std::int32_t Y = A.Top; Y < A.Bottom; ++Y) {
      auto* Row = reinterpret_cast<std::uint32_t*>(Dst.scanLine(Y));
      std::fill(Row + A.Left, Row + A.Right, Pixel);
    }
  });
}

TPixelView ViewOf(const QImage& Image) {
  TPixelView V;
  V.Bits = Image.constBits();
  V.Stride = Image.bytesPerLine();
  V.Width = Image.width();
  V.Height = Image.height();
  V.BitsPerPixel = 32;
  return V;
}
