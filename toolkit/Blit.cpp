#include "toolkit/Blit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <QImage>
#include <QRegion>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEST_X86 1
#endif

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
  int I = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time: as fast as a plain copy of the row.
  const __m128i Opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; I + 8 <= N; I += 8) {
    const __m128i A = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 4 * static_cast<std::ptrdiff_t>(I)));
    const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 4 * static_cast<std::ptrdiff_t>(I) + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I), _mm_or_si128(A, Opaque));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I + 4), _mm_or_si128(B, Opaque));
  }
#endif
  for (; I < N; ++I) {
    std::uint32_t V;
    std::memcpy(&V, In + 4 * static_cast<std::ptrdiff_t>(I), 4);
    Out[I] = V | 0xFF000000u;
  }
}

// Draws a 32-bit source pixel with alpha over an opaque target pixel.
inline std::uint32_t BlendOver(std::uint32_t Dst, std::uint32_t Src, TAlphaKind Kind) {
  const std::uint32_t A = Src >> 24;
  if (A == 255) return Src;
  if (A == 0 && Kind == akStraight) return Dst;
  std::uint32_t Out = 0xFF000000u;
  for (int Shift = 0; Shift < 24; Shift += 8) {
    const std::uint32_t S = (Src >> Shift) & 0xFF, D = (Dst >> Shift) & 0xFF;
    const std::uint32_t V = Kind == akStraight ? (S * A + D * (255 - A) + 127) / 255 : S + (D * (255 - A) + 127) / 255;
    Out |= std::min<std::uint32_t>(V, 255) << Shift;
  }
  return Out;
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
  // The alpha a drawing asks for, else the one the source view carries.
  const TAlphaKind AlphaKind = J.Options->Alpha == TBlitOptions::alStraight        ? akStraight
                               : J.Options->Alpha == TBlitOptions::alPremultiplied ? akPremultiplied
                                                                                  : S.Alpha;
  const bool Blend = S.BitsPerPixel == 32 && AlphaKind != akNone && DefaultMasks32(S);
  const bool Identity32 = DefaultMasks32(S) && Sw == Dw && !J.Options->TransparentColor && !Blend;
  const bool Identity24 = S.BitsPerPixel == 24 && Sw == Dw && !J.Options->TransparentColor;
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
    if (Identity32) {
      OrOpaque(Out, Row + 4 * static_cast<std::ptrdiff_t>(ColPtr[0]), Count);
    } else if (Identity24) {
      ConvertRow24(Out, Row + 3 * static_cast<std::ptrdiff_t>(ColPtr[0]), Count);
    } else if (Blend) {
      for (int I = 0; I < Count; ++I) {
        std::uint32_t V;
        std::memcpy(&V, Row + 4 * static_cast<std::ptrdiff_t>(ColPtr[I]), 4);
        Out[I] = BlendOver(Out[I], V, AlphaKind);
      }
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
  const bool Shrinks = DstRect.Width() < SrcRect.Width() || DstRect.Height() < SrcRect.Height();
  if (Options.Resampling == rsSmooth && Shrinks && !Options.TransparentColor && !Options.MonoForeground &&
      !Options.MonoBackground && !Options.Halftone) {
    // The alpha a drawing asks for, else the one the source view carries.
    TPixelView S = Src;
    if (Options.Alpha != TBlitOptions::alNone)
      S.Alpha = Options.Alpha == TBlitOptions::alStraight ? akStraight : akPremultiplied;
    SmoothStretchBlt(Dst, DstRect, Clip, TReductionLevel{S, 1}, Src.Width, Src.Height, SrcRect);
    return;
  }
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
                       (DefaultMasks32(Src) || Src.BitsPerPixel == 24) && !Options.TransparentColor &&
                       Src.Alpha == akNone && Options.Alpha == TBlitOptions::alNone;
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
  const auto Stride = static_cast<std::size_t>(Dst.bytesPerLine());
  // A pixel of four equal bytes (white, black) fills with memset; any other
  // fills the first row and copies it to the rest, both whole rows at a time.
  const bool Bytewise = Pixel == (Pixel & 0xFFu) * 0x01010101u;
  ForEachClipRect(Dst, R, Clip, [&](const TRect& A) {
    std::uint8_t* const Bits = Dst.bits();
    const std::size_t Bytes = static_cast<std::size_t>(A.Width()) * 4;
    std::uint8_t* const First = Bits + static_cast<std::size_t>(A.Top) * Stride + static_cast<std::size_t>(A.Left) * 4;
    if (!Bytewise) std::fill_n(reinterpret_cast<std::uint32_t*>(First), A.Width(), Pixel);
    for (std::int32_t Y = Bytewise ? A.Top : A.Top + 1; Y < A.Bottom; ++Y) {
      std::uint8_t* Row = Bits + static_cast<std::size_t>(Y) * Stride + static_cast<std::size_t>(A.Left) * 4;
      if (Bytewise)
        std::memset(Row, static_cast<int>(Pixel & 0xFFu), Bytes);
      else
        std::memcpy(Row, First, Bytes);
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

// ---------------------------------------------------------------------------
// Row conversion of 24-bit pixels

void ConvertRow24Scalar(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N) {
  for (std::int32_t I = 0; I < N; ++I, In += 3)
    Out[I] = 0xFF000000u | (std::uint32_t{In[2]} << 16) | (std::uint32_t{In[1]} << 8) | In[0];
}

namespace {

#ifdef KEST_X86
// Sixteen pixels (48 bytes) per step: each group of four is spread to four
// words by one shuffle and made opaque.
__attribute__((target("ssse3"))) void ConvertRow24Ssse3(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N) {
  const __m128i Spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i Opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = 0;
  for (; I + 16 <= N; I += 16, In += 48) {
    const __m128i A = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In));
    const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 16));
    const __m128i C = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 32));
    auto* O = reinterpret_cast<__m128i*>(Out + I);
    _mm_storeu_si128(O, _mm_or_si128(_mm_shuffle_epi8(A, Spread), Opaque));
    _mm_storeu_si128(O + 1, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(B, A, 12), Spread), Opaque));
    _mm_storeu_si128(O + 2, _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(C, B, 8), Spread), Opaque));
    _mm_storeu_si128(O + 3, _mm_or_si128(_mm_shuffle_epi8(_mm_srli_si128(C, 4), Spread), Opaque));
  }
  ConvertRow24Scalar(Out + I, In, N - I);
}

// Eight pixels per 256-bit register: each 128-bit half takes four pixels from
// its own 16-byte load and spreads them with one shuffle.
__attribute__((target("avx2"))) void ConvertRow24Avx2(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N) {
  const __m256i Spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i Opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = 0;
  for (; I + 16 <= N; I += 16, In += 48) {
    const __m256i A = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(In + 12), reinterpret_cast<const __m128i*>(In));
    const __m256i B = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 24))),
        _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 32)), 4), 1);
    auto* O = reinterpret_cast<__m256i*>(Out + I);
    _mm256_storeu_si256(O, _mm256_or_si256(_mm256_shuffle_epi8(A, Spread), Opaque));
    _mm256_storeu_si256(O + 1, _mm256_or_si256(_mm256_shuffle_epi8(B, Spread), Opaque));
  }
  ConvertRow24Ssse3(Out + I, In, N - I);
}
#endif

TConvertRow24 ChooseConvertRow24() {
#ifdef KEST_X86
  if (__builtin_cpu_supports("avx2")) return ConvertRow24Avx2;
  if (__builtin_cpu_supports("ssse3")) return ConvertRow24Ssse3;
#endif
  return ConvertRow24Scalar;
}

}  // namespace

void ConvertRow24(std::uint32_t* Out, const std::uint8_t* In, std::int32_t N) {
  static const TConvertRow24 Best = ChooseConvertRow24();
  Best(Out, In, N);
}

std::vector<TConvertRow24> ConvertRow24Variants() {
  std::vector<TConvertRow24> V = {ConvertRow24Scalar};
#ifdef KEST_X86
  if (__builtin_cpu_supports("ssse3")) V.push_back(ConvertRow24Ssse3);
  if (__builtin_cpu_supports("avx2")) V.push_back(ConvertRow24Avx2);
#endif
  return V;
}

// ---------------------------------------------------------------------------
// 24-bit rows halved

namespace {
// Quarter of a sum of four bytes, rounded to nearest, ties to even.
inline std::uint32_t QuarterEven(std::uint32_t S) { return (S + 1 + ((S >> 2) & 1)) >> 2; }
}  // namespace

void HalveRow24Scalar(const std::uint8_t* R0, const std::uint8_t* R1, std::int32_t N, std::uint32_t* Out) {
  for (std::int32_t I = 0; I < N; ++I, R0 += 6, R1 += 6) {
    std::uint32_t V = 0xFF000000u;
    for (int C = 0; C < 3; ++C) V |= QuarterEven(std::uint32_t{R0[C]} + R0[C + 3] + R1[C] + R1[C + 3]) << (8 * C);
    Out[I] = V;
  }
}

namespace {

#ifdef KEST_X86
// Each 16-byte load holds four pixels (12 bytes); one shuffle puts the two
// pixels of each pair side by side per channel, [B0 B1 G0 G1 R0 R1 0 0 ...],
// and a multiply-add with ones sums the pairs into 16-bit words. The two rows'
// sums are added, divided by four with ties to even, and packed.
__attribute__((target("ssse3"))) inline __m128i PairSums(const std::uint8_t* P) {
  const __m128i Pair = _mm_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, 6, 9, 7, 10, 8, 11, -1, -1);
  return _mm_maddubs_epi16(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P)), Pair),
                           _mm_set1_epi8(1));
}

// S / 4 per 16-bit word, ties to even.
inline __m128i QuarterEven16(__m128i S) {
  const __m128i One = _mm_set1_epi16(1);
  const __m128i Odd = _mm_and_si128(_mm_srli_epi16(S, 2), One);
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(S, One), Odd), 2);
}

__attribute__((target("ssse3"))) void HalveRow24Ssse3(const std::uint8_t* R0, const std::uint8_t* R1, std::int32_t N,
                                                      std::uint32_t* Out) {
  const __m128i Opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = 0;
  // The second load of a step reads 16 bytes from byte 12 of its 24.
  for (; 6 * std::int64_t{I} + 28 <= 6 * std::int64_t{N}; I += 4) {
    const std::uint8_t *A = R0 + 6 * I, *B = R1 + 6 * I;
    const __m128i Lo = QuarterEven16(_mm_add_epi16(PairSums(A), PairSums(B)));
    const __m128i Hi = QuarterEven16(_mm_add_epi16(PairSums(A + 12), PairSums(B + 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I), _mm_or_si128(_mm_packus_epi16(Lo, Hi), Opaque));
  }
  HalveRow24Scalar(R0 + 6 * I, R1 + 6 * I, N - I, Out + I);
}

// The same eight output pixels a step: each 128-bit half of a register takes
// four source pixels from its own 16-byte load.
__attribute__((target("avx2"))) inline __m256i PairSums256(const std::uint8_t* P) {
  const __m256i Pair = _mm256_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, 6, 9, 7, 10, 8, 11, -1, -1,  //
                                        0, 3, 1, 4, 2, 5, -1, -1, 6, 9, 7, 10, 8, 11, -1, -1);
  const __m256i V = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(P + 12), reinterpret_cast<const __m128i*>(P));
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(V, Pair), _mm256_set1_epi8(1));
}

__attribute__((target("avx2"))) inline __m256i QuarterEven16Avx2(__m256i S) {
  const __m256i One = _mm256_set1_epi16(1);
  const __m256i Odd = _mm256_and_si256(_mm256_srli_epi16(S, 2), One);
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(S, One), Odd), 2);
}

__attribute__((target("avx2"))) void HalveRow24Avx2(const std::uint8_t* R0, const std::uint8_t* R1, std::int32_t N,
                                                    std::uint32_t* Out) {
  const __m256i Opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = 0;
  // The last load of a step reads 16 bytes from byte 36 of its 48.
  for (; 6 * std::int64_t{I} + 52 <= 6 * std::int64_t{N}; I += 8) {
    const std::uint8_t *A = R0 + 6 * I, *B = R1 + 6 * I;
    const __m256i Lo = QuarterEven16Avx2(_mm256_add_epi16(PairSums256(A), PairSums256(B)));  // pixels 0, 1 | 2, 3
    const __m256i Hi = QuarterEven16Avx2(_mm256_add_epi16(PairSums256(A + 24), PairSums256(B + 24)));  // 4, 5 | 6, 7
    const __m256i Packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(Lo, Hi), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), _mm256_or_si256(Packed, Opaque));
  }
  HalveRow24Ssse3(R0 + 6 * I, R1 + 6 * I, N - I, Out + I);
}
#endif

THalveRow24 ChooseHalveRow24() {
#ifdef KEST_X86
  if (__builtin_cpu_supports("avx2")) return HalveRow24Avx2;
  if (__builtin_cpu_supports("ssse3")) return HalveRow24Ssse3;
#endif
  return HalveRow24Scalar;
}

}  // namespace

void HalveRow24(const std::uint8_t* R0, const std::uint8_t* R1, std::int32_t N, std::uint32_t* Out) {
  static const THalveRow24 Best = ChooseHalveRow24();
  Best(R0, R1, N, Out);
}

std::vector<THalveRow24> HalveRow24Variants() {
  std::vector<THalveRow24> V = {HalveRow24Scalar};
#ifdef KEST_X86
  if (__builtin_cpu_supports("ssse3")) V.push_back(HalveRow24Ssse3);
  if (__builtin_cpu_supports("avx2")) V.push_back(HalveRow24Avx2);
#endif
  return V;
}

// ---------------------------------------------------------------------------
// Red and blue swapped in place

namespace {

void SwapRedBlue24Scalar(std::uint8_t* Row, std::int32_t N) {
  for (std::int32_t I = 0; I < N; ++I, Row += 3) std::swap(Row[0], Row[2]);
}

#ifdef KEST_X86
// Sixteen pixels (48 bytes) per step, all loaded before any is stored: each
// output block takes the bytes of pixels that straddle block edges from its
// neighbours.
__attribute__((target("ssse3"))) void SwapRedBlue24Ssse3(std::uint8_t* Row, std::int32_t N) {
  const __m128i A0 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
  const __m128i B0 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1);
  const __m128i A1 = _mm_setr_epi8(-1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i B1 = _mm_setr_epi8(0, -1, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, -1, 15);
  const __m128i C1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1);
  const __m128i B2 = _mm_setr_epi8(14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i C2 = _mm_setr_epi8(-1, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  std::int32_t I = 0;
  for (; I + 16 <= N; I += 16, Row += 48) {
    auto* P = reinterpret_cast<__m128i*>(Row);
    const __m128i A = _mm_loadu_si128(P), B = _mm_loadu_si128(P + 1), C = _mm_loadu_si128(P + 2);
    _mm_storeu_si128(P, _mm_or_si128(_mm_shuffle_epi8(A, A0), _mm_shuffle_epi8(B, B0)));
    _mm_storeu_si128(P + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(A, A1), _mm_shuffle_epi8(B, B1)),
                                         _mm_shuffle_epi8(C, C1)));
    _mm_storeu_si128(P + 2, _mm_or_si128(_mm_shuffle_epi8(B, B2), _mm_shuffle_epi8(C, C2)));
  }
  SwapRedBlue24Scalar(Row, N - I);
}
#endif

TSwapRedBlue24 ChooseSwapRedBlue24() {
#ifdef KEST_X86
  if (__builtin_cpu_supports("ssse3")) return SwapRedBlue24Ssse3;
#endif
  return SwapRedBlue24Scalar;
}

}  // namespace

void SwapRedBlue24(std::uint8_t* Row, std::int32_t N) {
  static const TSwapRedBlue24 Best = ChooseSwapRedBlue24();
  Best(Row, N);
}

std::vector<TSwapRedBlue24> SwapRedBlue24Variants() {
  std::vector<TSwapRedBlue24> V = {SwapRedBlue24Scalar};
#ifdef KEST_X86
  if (__builtin_cpu_supports("ssse3")) V.push_back(SwapRedBlue24Ssse3);
#endif
  return V;
}

// ---------------------------------------------------------------------------
// Reduction pyramid and area averaging

namespace {

// Reads N pixels of row Y from column X0 as premultiplied 0xAARRGGBB.
void ReadPremultiplied(const TPixelView& S, const TRowReader& Reader, std::int32_t Y, std::int32_t X0, std::int32_t N,
                       std::uint32_t* Out) {
  const std::uint8_t* Row = S.Bits + Y * S.Stride;
  if (S.BitsPerPixel == 24) {
    ConvertRow24(Out, Row + 3 * static_cast<std::ptrdiff_t>(X0), N);
  } else if (S.BitsPerPixel == 32 && DefaultMasks32(S) && S.Alpha == akPremultiplied) {
    std::memcpy(Out, Row + 4 * static_cast<std::ptrdiff_t>(X0), static_cast<std::size_t>(N) * 4);
  } else if (S.BitsPerPixel == 32 && DefaultMasks32(S) && S.Alpha == akStraight) {
    for (std::int32_t I = 0; I < N; ++I) {
      std::uint32_t V;
      std::memcpy(&V, Row + 4 * static_cast<std::ptrdiff_t>(X0 + I), 4);
      const std::uint32_t A = V >> 24;
      std::uint32_t P = A << 24;
      for (int Shift = 0; Shift < 24; Shift += 8) P |= ((((V >> Shift) & 0xFF) * A + 127) / 255) << Shift;
      Out[I] = P;
    }
  } else if (S.BitsPerPixel == 32 && DefaultMasks32(S)) {
    OrOpaque(Out, Row + 4 * static_cast<std::ptrdiff_t>(X0), N);
  } else {
    for (std::int32_t I = 0; I < N; ++I) Out[I] = Reader.At(Row, X0 + I);
  }
}

// Sum / Weight rounded to nearest, ties to even.
inline std::uint32_t DivideEven(std::uint64_t Sum, std::uint64_t Weight) {
  const std::uint64_t Q = Sum / Weight, R = Sum % Weight;
  return static_cast<std::uint32_t>(Q + (2 * R > Weight || (2 * R == Weight && (Q & 1))));
}


#ifdef KEST_X86
// Four means of 2 x 2 pixels: A0, A1 hold pixels 0..7 of the upper row, B0, B1
// those of the lower one (0xAARRGGBB each).
inline __m128i QuadMeans(__m128i A0, __m128i A1, __m128i B0, __m128i B1) {
  const __m128i Z = _mm_setzero_si128();
  const __m128i S01 = _mm_add_epi16(_mm_unpacklo_epi8(A0, Z), _mm_unpacklo_epi8(B0, Z));
  const __m128i S23 = _mm_add_epi16(_mm_unpackhi_epi8(A0, Z), _mm_unpackhi_epi8(B0, Z));
  const __m128i S45 = _mm_add_epi16(_mm_unpacklo_epi8(A1, Z), _mm_unpacklo_epi8(B1, Z));
  const __m128i S67 = _mm_add_epi16(_mm_unpackhi_epi8(A1, Z), _mm_unpackhi_epi8(B1, Z));
  const __m128i P0 = _mm_add_epi16(_mm_unpacklo_epi64(S01, S23), _mm_unpackhi_epi64(S01, S23));
  const __m128i P1 = _mm_add_epi16(_mm_unpacklo_epi64(S45, S67), _mm_unpackhi_epi64(S45, S67));
  return _mm_packus_epi16(QuarterEven16(P0), QuarterEven16(P1));
}
#endif

#ifdef KEST_X86
// Eight means a step from 256-bit loads of eight pixels: one shuffle per
// 128-bit half puts each channel of a pixel pair side by side and a
// multiply-add with ones sums the pairs.
__attribute__((target("avx2"))) inline __m256i PairSums32(const std::uint32_t* P) {
  const __m256i Pair = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,  //
                                        0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(P)), Pair),
                              _mm256_set1_epi8(1));
}

__attribute__((target("avx2"))) std::int32_t Halve32Avx2(const std::uint32_t* R0, const std::uint32_t* R1,
                                                         std::int32_t N, std::uint32_t* Out) {
  std::int32_t I = 0;
  for (; I + 8 <= N; I += 8) {
    const std::uint32_t *A = R0 + 2 * I, *B = R1 + 2 * I;
    const __m256i Lo = QuarterEven16Avx2(_mm256_add_epi16(PairSums32(A), PairSums32(B)));          // 0, 1 | 2, 3
    const __m256i Hi = QuarterEven16Avx2(_mm256_add_epi16(PairSums32(A + 8), PairSums32(B + 8)));  // 4, 5 | 6, 7
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(Lo, Hi), 0xD8));
  }
  return I;
}
#endif

// Out[I] := the mean of R0[2I], R0[2I+1], R1[2I], R1[2I+1], per channel.
void Halve32(const std::uint32_t* R0, const std::uint32_t* R1, std::int32_t N, std::uint32_t* Out) {
  std::int32_t I = 0;
#ifdef KEST_X86
  static const bool Avx2 = __builtin_cpu_supports("avx2");
  if (Avx2) I = Halve32Avx2(R0, R1, N, Out);
  for (; I + 4 <= N; I += 4) {
    auto Load = [](const std::uint32_t* P) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)); };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I),
                     QuadMeans(Load(R0 + 2 * I), Load(R0 + 2 * I + 4), Load(R1 + 2 * I), Load(R1 + 2 * I + 4)));
  }
#endif
  for (; I < N; ++I) {
    const std::uint32_t P[4] = {R0[2 * I], R0[2 * I + 1], R1[2 * I], R1[2 * I + 1]};
    std::uint32_t V = 0;
    for (int Shift = 0; Shift < 32; Shift += 8) {
      std::uint32_t S = 0;
      for (std::uint32_t Q : P) S += (Q >> Shift) & 0xFF;
      V |= QuarterEven(S) << Shift;
    }
    Out[I] = V;
  }
}

// The source pixels a level pixel at Index covers on an axis of the given extent.
inline std::int64_t Coverage(std::int64_t Index, std::int64_t Step, std::int64_t Extent) {
  return std::min(Step, Extent - Index * Step);
}

struct THalving {
  const TReductionLevel* Above;
  std::int32_t AboveW, AboveH, SourceW, SourceH;
  std::uint8_t* Dst;
  std::ptrdiff_t DstStride;
};

// Level rows [From, To) of the level below.
void HalveRows(const THalving& H, std::int32_t From, std::int32_t To) {
  const TPixelView& S = H.Above->Pixels;
  const std::int64_t Step = H.Above->Step;
  const std::int32_t OutW = HalfSize(H.AboveW);
  // Columns whose two children are both whole go through the fast loop; only
  // the last one can have a partial or missing child.
  std::int32_t FullCols = H.AboveW / 2;
  if (FullCols > 0 && 2 * FullCols == H.AboveW && Coverage(H.AboveW - 1, Step, H.SourceW) != Step) --FullCols;
  const bool Direct = S.BitsPerPixel == 32 && DefaultMasks32(S) && S.Alpha == akPremultiplied;
  const TBlitOptions NoOptions;
  const TRowReader Reader(S, NoOptions);
  constexpr std::int32_t Chunk = 512;  // output columns converted at a time, kept in the fastest cache
  std::vector<std::uint32_t> T0(Direct ? 0 : 2 * Chunk + 2), T1(T0.size());
  for (std::int32_t J = From; J < To; ++J) {
    auto* Out = reinterpret_cast<std::uint32_t*>(H.Dst + J * H.DstStride);
    const std::int32_t Y0 = 2 * J, Y1 = std::min(2 * J + 1, H.AboveH - 1);
    const bool FullRow = Y1 == Y0 + 1 && Coverage(Y1, Step, H.SourceH) == Step;
    const std::int32_t Fast = FullRow ? FullCols : 0;
    for (std::int32_t C = 0; C < Fast; C += Chunk) {
      const std::int32_t N = std::min(Chunk, Fast - C);
      std::int32_t Done = 0;
      if (Direct) {
        Halve32(reinterpret_cast<const std::uint32_t*>(S.Bits + Y0 * S.Stride) + 2 * C,
                reinterpret_cast<const std::uint32_t*>(S.Bits + Y1 * S.Stride) + 2 * C, N, Out + C);
        continue;
      }
      if (S.BitsPerPixel == 24) {
        HalveRow24(S.Bits + Y0 * S.Stride + 6 * C, S.Bits + Y1 * S.Stride + 6 * C, N, Out + C);
        continue;
      }
      if (Done < N) {
        ReadPremultiplied(S, Reader, Y0, 2 * (C + Done), 2 * (N - Done), T0.data());
        ReadPremultiplied(S, Reader, Y1, 2 * (C + Done), 2 * (N - Done), T1.data());
        Halve32(T0.data(), T1.data(), N - Done, Out + C + Done);
      }
    }
    // The rest: children weighted by the source pixels each covers.
    for (std::int32_t I = Fast; I < OutW; ++I) {
      std::uint64_t Sum[4] = {0, 0, 0, 0}, Weight = 0;
      for (std::int32_t Y = Y0; Y <= Y1; ++Y)
        for (std::int32_t X = 2 * I; X <= 2 * I + 1 && X < H.AboveW; ++X) {
          std::uint32_t P;
          ReadPremultiplied(S, Reader, Y, X, 1, &P);
          const std::uint64_t W = static_cast<std::uint64_t>(Coverage(X, Step, H.SourceW) * Coverage(Y, Step, H.SourceH));
          for (int K = 0; K < 4; ++K) Sum[K] += ((P >> (8 * K)) & 0xFF) * W;
          Weight += W;
        }
      std::uint32_t V = 0;
      for (int K = 0; K < 4; ++K) V |= DivideEven(Sum[K], Weight) << (8 * K);
      Out[I] = V;
    }
  }
}

// Runs Fn(From, To) over [0, Rows), split in two halves on two cores when
// there is enough work to pay for the thread.
template <class F>
void SplitRows(std::int32_t Rows, std::int64_t Work, F&& Fn) {
  if (Work < (1 << 18) || Rows < 64 || std::thread::hardware_concurrency() < 2) {
    Fn(0, Rows);
    return;
  }
  const std::int32_t Mid = Rows / 2;
  std::thread Worker([&] { Fn(Mid, Rows); });
  Fn(0, Mid);
  Worker.join();
}

}  // namespace

void HalveLevels(const TReductionLevel& Above, std::int32_t SourceW, std::int32_t SourceH,
                 const std::vector<TLevelMemory>& Dsts) {
  if (Above.Pixels.Width <= 0 || Above.Pixels.Height <= 0 || Dsts.empty()) return;
  const std::size_t N = Dsts.size();
  // Level K + 1 is made from level K; Levels[0] is Above.
  std::vector<TReductionLevel> Levels(N + 1);
  Levels[0] = Above;
  std::vector<THalving> Jobs(N + 1);
  std::vector<std::int32_t> Rows(N + 1);
  Rows[0] = Above.Pixels.Height;
  for (std::size_t K = 1; K <= N; ++K) {
    const TPixelView& Up = Levels[K - 1].Pixels;
    TPixelView& V = Levels[K].Pixels;
    V.Bits = Dsts[K - 1].Bits;
    V.Stride = Dsts[K - 1].Stride;
    V.Width = HalfSize(Up.Width);
    V.Height = HalfSize(Up.Height);
    V.BitsPerPixel = 32;
    V.Alpha = akPremultiplied;
    Levels[K].Step = Levels[K - 1].Step * 2;
    Jobs[K] = THalving{&Levels[K - 1], Up.Width, Up.Height, SourceW, SourceH, Dsts[K - 1].Bits, Dsts[K - 1].Stride};
    Rows[K] = V.Height;
  }
  // Bands of rows of the first new level, each followed by the rows of the
  // deeper levels it completes while they are still in the cache.
  constexpr std::int32_t Band = 32;
  auto Run = [&](std::int32_t From, std::int32_t To, std::size_t Deepest) {
    std::vector<std::int32_t> Done(Deepest + 1);
    for (std::size_t K = 1; K <= Deepest; ++K) Done[K] = From >> (K - 1);
    for (std::int32_t B = From; B < To; B += Band) {
      std::int32_t End = std::min(B + Band, To);
      HalveRows(Jobs[1], Done[1], End);
      Done[1] = End;
      for (std::size_t K = 2; K <= Deepest; ++K) {
        End = End == Rows[K - 1] ? Rows[K] : End / 2;
        if (End > Done[K]) HalveRows(Jobs[K], Done[K], End);
        Done[K] = std::max(Done[K], End);
      }
    }
  };
  // Two halves on two cores, split where the rows of the first levels split
  // evenly; the deeper levels, a few rows each, are made after both halves.
  const std::size_t Split = std::min<std::size_t>(N, 6);
  const std::int32_t Align = std::int32_t{1} << Split;
  const std::int32_t Mid = Rows[1] / 2 / Align * Align;
  if (std::int64_t{Above.Pixels.Width} * Above.Pixels.Height < (1 << 18) || Mid == 0 ||
      std::thread::hardware_concurrency() < 2) {
    Run(0, Rows[1], N);
    return;
  }
  std::thread Worker([&] { Run(Mid, Rows[1], Split); });
  Run(0, Mid, Split);
  Worker.join();
  for (std::size_t K = Split + 1; K <= N; ++K) HalveRows(Jobs[K], 0, Rows[K]);
}

namespace {

// The level pixels under each target pixel on one axis, with their weights
// (summing to 1); none when the target pixel's source lies outside the source.
struct TTaps {
  std::vector<std::int32_t> First, Count, At;
  std::vector<float> Weight;
  std::int32_t Low = std::numeric_limits<std::int32_t>::max(), High = -1;  // level pixels used
};

// Target offsets [D0, D1) of a span of DstSize showing source [SrcOff, SrcOff + SrcSize).
TTaps MakeTaps(std::int64_t D0, std::int64_t D1, std::int64_t DstSize, std::int64_t SrcOff, std::int64_t SrcSize,
               std::int64_t Step, std::int64_t Extent) {
  TTaps T;
  const std::int64_t LevelSize = (Extent + Step - 1) / Step;
  for (std::int64_t D = D0; D < D1; ++D) {
    T.At.push_back(static_cast<std::int32_t>(T.Weight.size()));
    std::int32_t First = 0, Count = 0;
    if (DstSize >= SrcSize) {
      const std::int64_t S = SrcOff + MapCoord(D, SrcSize, DstSize);
      if (S >= 0 && S < Extent) {
        First = static_cast<std::int32_t>(S / Step);
        Count = 1;
        T.Weight.push_back(1.0f);
      }
    } else {
      // In units of 1 / DstSize source pixels, where every boundary is whole.
      const std::int64_t A = std::max<std::int64_t>(SrcOff * DstSize + D * SrcSize, 0);
      const std::int64_t B = std::min<std::int64_t>(SrcOff * DstSize + (D + 1) * SrcSize, Extent * DstSize);
      if (A < B) {
        const std::int64_t Cell = Step * DstSize;
        const std::int64_t I0 = A / Cell, I1 = std::min((B - 1) / Cell, LevelSize - 1);
        First = static_cast<std::int32_t>(I0);
        const double Total = static_cast<double>(B - A);
        for (std::int64_t I = I0; I <= I1; ++I) {
          const std::int64_t Lo = std::max(A, I * Cell), Hi = std::min(B, std::min((I + 1) * Step, Extent) * DstSize);
          T.Weight.push_back(static_cast<float>(static_cast<double>(Hi - Lo) / Total));
          ++Count;
        }
      }
    }
    T.First.push_back(First);
    T.Count.push_back(Count);
    if (Count) {
      T.Low = std::min(T.Low, First);
      T.High = std::max(T.High, First + Count - 1);
    }
  }
  return T;
}

struct TSmoothJob {
  QImage* Dst;
  TRect DstRect, SrcRect;
  const TReductionLevel* Level;
  std::int32_t SourceW, SourceH;
};

// Target rows [RowFrom, RowTo) of the area A, with the column taps X.
void SmoothRows(const TSmoothJob& J, const TRect& A, const TTaps& X, std::int32_t RowFrom, std::int32_t RowTo) {
  const TPixelView& S = J.Level->Pixels;
  const TTaps Y = MakeTaps(RowFrom - J.DstRect.Top, RowTo - J.DstRect.Top, J.DstRect.Height(), J.SrcRect.Top,
                           J.SrcRect.Height(), J.Level->Step, J.SourceH);
  if (Y.High < 0) return;
  const std::int32_t N = A.Width();
  const std::int32_t Low = X.Low, Used = X.High - Low + 1;
  const bool Direct = S.BitsPerPixel == 32 && DefaultMasks32(S) && S.Alpha == akPremultiplied;
  const TBlitOptions NoOptions;
  const TRowReader Reader(S, NoOptions);
  std::vector<std::uint32_t> Row(Direct ? 0 : static_cast<std::size_t>(Used));
  std::vector<float> Acc(4 * static_cast<std::size_t>(N));
  for (std::int32_t T = RowFrom; T < RowTo; ++T) {
    const std::size_t Yi = static_cast<std::size_t>(T - RowFrom);
    if (!Y.Count[Yi]) continue;
    std::fill(Acc.begin(), Acc.end(), 0.0f);
    for (std::int32_t K = 0; K < Y.Count[Yi]; ++K) {
      const std::int32_t Ly = Y.First[Yi] + K;
      const float Wy = Y.Weight[static_cast<std::size_t>(Y.At[Yi] + K)];
      const std::uint32_t* P;
      if (Direct) {
        P = reinterpret_cast<const std::uint32_t*>(S.Bits + Ly * S.Stride) + Low;
      } else {
        ReadPremultiplied(S, Reader, Ly, Low, Used, Row.data());
        P = Row.data();
      }
      for (std::int32_t I = 0; I < N; ++I) {
        const std::int32_t C = X.Count[static_cast<std::size_t>(I)];
        if (!C) continue;
        const float* W = X.Weight.data() + X.At[static_cast<std::size_t>(I)];
        const std::uint32_t* Q = P + (X.First[static_cast<std::size_t>(I)] - Low);
        float H[4] = {0, 0, 0, 0};
        for (std::int32_t M = 0; M < C; ++M) {
          const std::uint32_t V = Q[M];
          for (int Ch = 0; Ch < 4; ++Ch) H[Ch] += W[M] * static_cast<float>((V >> (8 * Ch)) & 0xFF);
        }
        float* Out = Acc.data() + 4 * static_cast<std::size_t>(I);
        for (int Ch = 0; Ch < 4; ++Ch) Out[Ch] += Wy * H[Ch];
      }
    }
    auto* Out = reinterpret_cast<std::uint32_t*>(J.Dst->scanLine(T)) + A.Left;
    for (std::int32_t I = 0; I < N; ++I) {
      if (!X.Count[static_cast<std::size_t>(I)]) continue;
      const float* V = Acc.data() + 4 * static_cast<std::size_t>(I);
      const float Alpha = V[3];
      std::uint32_t Px = 0xFF000000u;
      if (Alpha >= 254.5f) {
        for (int Ch = 0; Ch < 3; ++Ch)
          Px |= static_cast<std::uint32_t>(std::min(V[Ch] + 0.5f, 255.0f)) << (8 * Ch);
      } else {
        const float Keep = 1.0f - Alpha / 255.0f;
        for (int Ch = 0; Ch < 3; ++Ch) {
          const float D = static_cast<float>((Out[I] >> (8 * Ch)) & 0xFF);
          Px |= static_cast<std::uint32_t>(std::min(V[Ch] + D * Keep + 0.5f, 255.0f)) << (8 * Ch);
        }
      }
      Out[I] = Px;
    }
  }
}

}  // namespace

void SmoothStretchBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TReductionLevel& Level,
                      std::int32_t SourceW, std::int32_t SourceH, const TRect& SrcRect) {
  const TPixelView& S = Level.Pixels;
  if (DstRect.IsEmpty() || SrcRect.IsEmpty() || !S.Bits || S.Width <= 0 || S.Height <= 0 || Level.Step <= 0) return;
  if (Dst.isNull() || Dst.depth() != 32) return;
  // The level must be the one of this source and step.
  if (S.Width != (std::int64_t{SourceW} + Level.Step - 1) / Level.Step ||
      S.Height != (std::int64_t{SourceH} + Level.Step - 1) / Level.Step)
    return;
  const TSmoothJob Job{&Dst, DstRect, SrcRect, &Level, SourceW, SourceH};
  Dst.bits();  // detached before any thread starts
  ForEachClipRect(Dst, DstRect, Clip, [&](const TRect& A) {
    const TTaps X = MakeTaps(A.Left - DstRect.Left, A.Right - DstRect.Left, DstRect.Width(), SrcRect.Left,
                             SrcRect.Width(), Level.Step, SourceW);
    if (X.High < 0) return;
    SplitRows(A.Height(), std::int64_t{A.Width()} * A.Height() * 4, [&](std::int32_t From, std::int32_t To) {
      SmoothRows(Job, A, X, A.Top + From, A.Top + To);
    });
  });
}
