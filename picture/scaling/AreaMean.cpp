#include "picture/scaling/AreaMean.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

#include <QImage>
#include <QRegion>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEST_X86 1
#endif

namespace {

// ---------------------------------------------------------------------------
// Rows summed

void SumRowsPlain(const std::uint8_t* const* Rows, const std::int32_t* Weights, std::int32_t N, std::int32_t Bytes,
                  std::int32_t* Acc, float* Out) {
  std::fill_n(Acc, Bytes, 0);
  for (std::int32_t I = 0; I < N; ++I) {
    const std::uint8_t* R = Rows[I];
    const std::int32_t W = Weights[I];
    for (std::int32_t B = 0; B < Bytes; ++B) Acc[B] += W * R[B];
  }
  for (std::int32_t B = 0; B < Bytes; ++B) Out[B] = static_cast<float>(Acc[B]);
}

#ifdef KEST_X86
// Sixteen bytes a step, two rows at a time: the bytes of both rows widened to
// 16 bits and interleaved, so that one multiply-add per eight bytes weighs the
// pair into 32-bit sums. Up to eight rows are summed in registers; more go
// through Acc in groups of eight. The sums of a step come out in the order
// 0-3, 8-11 | 4-7, 12-15 and are put back in order when stored as floats.
__attribute__((target("avx2"))) void SumRowsAvx2(const std::uint8_t* const* Rows, const std::int32_t* Weights,
                                                 std::int32_t N, std::int32_t Bytes, std::int32_t* Acc, float* Out) {
  const std::int32_t Blocks = Bytes / 16 * 16;
  for (std::int32_t G = 0; G < N; G += 8) {
    const std::int32_t End = std::min(G + 8, N);
    const bool FirstGroup = G == 0, LastGroup = End == N;
    // The pairs of this group: an odd last row pairs with itself at weight 0.
    const std::uint8_t* P[8];
    __m256i W[4];
    std::int32_t Pairs = 0;
    for (std::int32_t I = G; I < End; I += 2, ++Pairs) {
      const bool Odd = I + 1 == End;
      P[2 * Pairs] = Rows[I];
      P[2 * Pairs + 1] = Odd ? Rows[I] : Rows[I + 1];
      const std::uint32_t W0 = static_cast<std::uint32_t>(Weights[I]) & 0xFFFF;
      const std::uint32_t W1 = Odd ? 0 : static_cast<std::uint32_t>(Weights[I + 1]) & 0xFFFF;
      W[Pairs] = _mm256_set1_epi32(static_cast<int>(W0 | (W1 << 16)));
    }
    for (std::int32_t B = 0; B < Blocks; B += 16) {
      __m256i Lo, Hi;
      if (FirstGroup) {
        Lo = Hi = _mm256_setzero_si256();
      } else {
        Lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Acc + B));
        Hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Acc + B + 8));
      }
      for (std::int32_t K = 0; K < Pairs; ++K) {
        const __m256i X = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P[2 * K] + B)));
        const __m256i Y = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P[2 * K + 1] + B)));
        Lo = _mm256_add_epi32(Lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(X, Y), W[K]));
        Hi = _mm256_add_epi32(Hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(X, Y), W[K]));
      }
      if (LastGroup) {
        _mm256_storeu_ps(Out + B, _mm256_cvtepi32_ps(_mm256_permute2x128_si256(Lo, Hi, 0x20)));
        _mm256_storeu_ps(Out + B + 8, _mm256_cvtepi32_ps(_mm256_permute2x128_si256(Lo, Hi, 0x31)));
      } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + B), Lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + B + 8), Hi);
      }
    }
  }
  // The last bytes, fewer than a step.
  if (Blocks < Bytes) {
    std::fill(Acc + Blocks, Acc + Bytes, 0);
    for (std::int32_t I = 0; I < N; ++I)
      for (std::int32_t B = Blocks; B < Bytes; ++B) Acc[B] += Weights[I] * Rows[I][B];
    for (std::int32_t B = Blocks; B < Bytes; ++B) Out[B] = static_cast<float>(Acc[B]);
  }
}
#endif

// ---------------------------------------------------------------------------
// Columns weighed

inline std::uint32_t Channel(float V, float Scale) {
  return static_cast<std::uint32_t>(std::min(V * Scale + 0.5f, 255.0f));
}

void WeighColumnsPlain(const float* Sums, const TColumnTaps& X, std::int32_t From, std::int32_t To, float Scale,
                       std::uint32_t* Out) {
  const int Ch = X.Channels, Taps = X.Taps;
  for (std::int32_t I = From; I < To; ++I) {
    if (X.Offset[static_cast<std::size_t>(I)] < 0) continue;
    const float* P = Sums + X.Offset[static_cast<std::size_t>(I)];
    const float* W = X.Weight.data() + static_cast<std::ptrdiff_t>(I) * Taps;
    float B = W[0] * P[0], G = W[0] * P[1], R = W[0] * P[2];
    for (int K = 1; K < Taps; ++K) {
      B = B + W[K] * P[Ch * K];
      G = G + W[K] * P[Ch * K + 1];
      R = R + W[K] * P[Ch * K + 2];
    }
    Out[I] = 0xFF000000u | (Channel(R, Scale) << 16) | (Channel(G, Scale) << 8) | Channel(B, Scale);
  }
}

#ifdef KEST_X86
// The channels of one pixel side by side in a register, in the same order of
// operations as the plain variant, so that both round alike.
void WeighColumnsSse2(const float* Sums, const TColumnTaps& X, std::int32_t From, std::int32_t To, float Scale,
                      std::uint32_t* Out) {
  const int Ch = X.Channels, Taps = X.Taps;
  const __m128 S = _mm_set1_ps(Scale), Half = _mm_set1_ps(0.5f), Max = _mm_set1_ps(255.0f);
  for (std::int32_t I = From; I < To; ++I) {
    if (X.Offset[static_cast<std::size_t>(I)] < 0) continue;
    const float* P = Sums + X.Offset[static_cast<std::size_t>(I)];
    const float* W = X.Weight.data() + static_cast<std::ptrdiff_t>(I) * Taps;
    __m128 A = _mm_mul_ps(_mm_set1_ps(W[0]), _mm_loadu_ps(P));
    for (int K = 1; K < Taps; ++K) A = _mm_add_ps(A, _mm_mul_ps(_mm_set1_ps(W[K]), _mm_loadu_ps(P + Ch * K)));
    const __m128i V = _mm_cvttps_epi32(_mm_min_ps(_mm_add_ps(_mm_mul_ps(A, S), Half), Max));
    const __m128i Bytes = _mm_packus_epi16(_mm_packs_epi32(V, V), _mm_setzero_si128());
    Out[I] = 0xFF000000u | (static_cast<std::uint32_t>(_mm_cvtsi128_si32(Bytes)) & 0xFFFFFFu);
  }
}

__attribute__((target("avx2"))) inline __m256 LoadPair(const float* A, const float* B) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(A)), _mm_loadu_ps(B), 1);
}

// Pixels 2J and 2J + 1 in the two halves of a register.
template <int Taps>
__attribute__((target("avx2"))) inline __m256i PairAvx2(const float* Sums, const TColumnTaps& X, std::int32_t J, int Ch,
                                                        int N, __m256 S) {
  const float* Pa = Sums + X.Offset[2 * static_cast<std::size_t>(J)];
  const float* Pb = Sums + X.Offset[2 * static_cast<std::size_t>(J) + 1];
  const float* W = X.PairWeight.data() + static_cast<std::ptrdiff_t>(J) * 8 * N;
  __m256 A = _mm256_mul_ps(_mm256_loadu_ps(W), LoadPair(Pa, Pb));
  for (int K = 1; K < (Taps ? Taps : N); ++K)
    A = _mm256_add_ps(A, _mm256_mul_ps(_mm256_loadu_ps(W + 8 * K), LoadPair(Pa + Ch * K, Pb + Ch * K)));
  return _mm256_cvttps_epi32(
      _mm256_min_ps(_mm256_add_ps(_mm256_mul_ps(A, S), _mm256_set1_ps(0.5f)), _mm256_set1_ps(255.0f)));
}

// Eight pixels a step, two in each register: the same operations per channel
// as the plain variant, with the weights of both pixels of a pair laid out side
// by side, and the four results packed to bytes together.
template <int Taps>
__attribute__((target("avx2"))) void WeighColumnsAvx2T(const float* Sums, const TColumnTaps& X, std::int32_t From,
                                                       std::int32_t To, float Scale, std::uint32_t* Out) {
  const int Ch = X.Channels, N = X.Taps;
  const __m256 S = _mm256_set1_ps(Scale);
  const __m256i Order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i Rgb = _mm256_set1_epi32(0xFFFFFF), Opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = From;
  // Whole groups of eight from a multiple of eight.
  const std::int32_t Lead = std::min(To, (From + 7) / 8 * 8);
  WeighColumnsSse2(Sums, X, I, Lead, Scale, Out);
  for (I = Lead; I + 8 <= To; I += 8) {
    if (!X.Whole[static_cast<std::size_t>(I / 8)]) {
      WeighColumnsSse2(Sums, X, I, I + 8, Scale, Out);
      continue;
    }
    const std::int32_t J = I / 2;
    const __m256i V0 = PairAvx2<Taps>(Sums, X, J, Ch, N, S), V1 = PairAvx2<Taps>(Sums, X, J + 1, Ch, N, S);
    const __m256i V2 = PairAvx2<Taps>(Sums, X, J + 2, Ch, N, S), V3 = PairAvx2<Taps>(Sums, X, J + 3, Ch, N, S);
    // Halves: [0 2 | 1 3] and [4 6 | 5 7] as words, then [0 2 4 6 | 1 3 5 7] as bytes.
    const __m256i Bytes = _mm256_packus_epi16(_mm256_packs_epi32(V0, V1), _mm256_packs_epi32(V2, V3));
    const __m256i Px = _mm256_permutevar8x32_epi32(Bytes, Order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), _mm256_or_si256(_mm256_and_si256(Px, Rgb), Opaque));
  }
  WeighColumnsSse2(Sums, X, I, To, Scale, Out);
}

void WeighColumnsAvx2(const float* Sums, const TColumnTaps& X, std::int32_t From, std::int32_t To, float Scale,
                      std::uint32_t* Out) {
  switch (X.Taps) {
    case 1: WeighColumnsAvx2T<1>(Sums, X, From, To, Scale, Out); return;
    case 2: WeighColumnsAvx2T<2>(Sums, X, From, To, Scale, Out); return;
    case 3: WeighColumnsAvx2T<3>(Sums, X, From, To, Scale, Out); return;
    case 4: WeighColumnsAvx2T<4>(Sums, X, From, To, Scale, Out); return;
    case 5: WeighColumnsAvx2T<5>(Sums, X, From, To, Scale, Out); return;
    case 6: WeighColumnsAvx2T<6>(Sums, X, From, To, Scale, Out); return;
    default: WeighColumnsAvx2T<0>(Sums, X, From, To, Scale, Out); return;
  }
}
#endif

// ---------------------------------------------------------------------------
// Rows quartered

// The mean of 16 bytes from their sum, rounded to nearest, ties to even.
inline std::uint32_t SixteenthEven(std::uint32_t S) { return (S + 7 + ((S >> 4) & 1)) >> 4; }

void QuarterRow24Plain(const std::uint8_t* const* Rows, std::int32_t N, std::uint32_t* Out) {
  for (std::int32_t I = 0; I < N; ++I) {
    std::uint32_t V = 0xFF000000u;
    for (int C = 0; C < 3; ++C) {
      std::uint32_t S = 0;
      for (int R = 0; R < 4; ++R)
        for (int X = 0; X < 4; ++X) S += Rows[R][12 * static_cast<std::ptrdiff_t>(I) + 3 * X + C];
      V |= SixteenthEven(S) << (8 * C);
    }
    Out[I] = V;
  }
}

#ifdef KEST_X86
// Sums of the pixel pairs (0, 1), (2, 3) | (4, 5), (6, 7) of eight 24-bit
// pixels, per channel in 16-bit words: B G R 0 B G R 0 | B G R 0 B G R 0.
__attribute__((target("avx2"))) inline __m256i PairSums24(const std::uint8_t* P) {
  const __m256i Pair = _mm256_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, 6, 9, 7, 10, 8, 11, -1, -1,  //
                                        0, 3, 1, 4, 2, 5, -1, -1, 6, 9, 7, 10, 8, 11, -1, -1);
  const __m256i V = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(P + 12), reinterpret_cast<const __m128i*>(P));
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(V, Pair), _mm256_set1_epi8(1));
}

// Target pixels 2G and 2G + 1 of a step (source pixels 8G .. 8G + 7 of the
// four rows) in the low words of the two halves, rounded.
__attribute__((target("avx2"))) inline __m256i QuadMeans24(const std::uint8_t* const* Rows, std::ptrdiff_t At) {
  const __m256i S = _mm256_add_epi16(_mm256_add_epi16(PairSums24(Rows[0] + At), PairSums24(Rows[1] + At)),
                                     _mm256_add_epi16(PairSums24(Rows[2] + At), PairSums24(Rows[3] + At)));
  const __m256i Q = _mm256_add_epi16(S, _mm256_srli_si256(S, 8));
  const __m256i Odd = _mm256_and_si256(_mm256_srli_epi16(Q, 4), _mm256_set1_epi16(1));
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(Q, _mm256_set1_epi16(7)), Odd), 4);
}

// Eight target pixels a step from 32 source pixels (96 bytes) of each row.
__attribute__((target("avx2"))) void QuarterRow24Avx2(const std::uint8_t* const* Rows, std::int32_t N,
                                                      std::uint32_t* Out) {
  const __m256i Order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i Opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t I = 0;
  // The last load of a step reads 16 bytes from byte 84 of its 96.
  for (; 12 * std::int64_t{I} + 100 <= 12 * std::int64_t{N}; I += 8) {
    const std::ptrdiff_t At = 12 * static_cast<std::ptrdiff_t>(I);
    const __m256i Q0 = QuadMeans24(Rows, At), Q1 = QuadMeans24(Rows, At + 24);
    const __m256i Q2 = QuadMeans24(Rows, At + 48), Q3 = QuadMeans24(Rows, At + 72);
    // Halves: [0 2 | 1 3] and [4 6 | 5 7], then [0 2 4 6 | 1 3 5 7] as bytes.
    const __m256i Bytes = _mm256_packus_epi16(_mm256_unpacklo_epi64(Q0, Q1), _mm256_unpacklo_epi64(Q2, Q3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I),
                        _mm256_or_si256(_mm256_permutevar8x32_epi32(Bytes, Order), Opaque));
  }
  const std::uint8_t* Rest[4] = {
      Rows[0] + 12 * static_cast<std::ptrdiff_t>(I), Rows[1] + 12 * static_cast<std::ptrdiff_t>(I),
      Rows[2] + 12 * static_cast<std::ptrdiff_t>(I), Rows[3] + 12 * static_cast<std::ptrdiff_t>(I)};
  QuarterRow24Plain(Rest, N - I, Out + I);
}
#endif

// ---------------------------------------------------------------------------
// The pass

bool DefaultMasks32(const TPixelView& S) {
  return (!S.RedMask && !S.GreenMask && !S.BlueMask) ||
         (S.RedMask == 0xFF0000 && S.GreenMask == 0xFF00 && S.BlueMask == 0xFF);
}

// The source pixels under target offsets [D0, D1) of a span of DstSize showing
// source [SrcOff, SrcOff + SrcSize) of an axis of Extent pixels, with whole
// weights in units of 1 / DstSize source pixel, and their total per target
// pixel (no pixels when the target pixel's source lies outside).
struct TTaps {
  std::vector<std::int32_t> First, Count, At, Weight;
  std::vector<std::int64_t> Total;
  std::int32_t Low = std::numeric_limits<std::int32_t>::max(), High = -1;
};

TTaps MakeTaps(std::int64_t D0, std::int64_t D1, std::int64_t DstSize, std::int64_t SrcOff, std::int64_t SrcSize,
               std::int64_t Extent) {
  TTaps T;
  for (std::int64_t D = D0; D < D1; ++D) {
    T.At.push_back(static_cast<std::int32_t>(T.Weight.size()));
    std::int64_t First = 0, Count = 0, Total = 0;
    if (DstSize >= SrcSize) {
      const std::int64_t S = SrcOff + (SrcSize == DstSize ? D : ((2 * D + 1) * SrcSize) / (2 * DstSize));
      if (S >= 0 && S < Extent) {
        First = S;
        Count = Total = 1;
        T.Weight.push_back(1);
      }
    } else {
      const std::int64_t A = std::max<std::int64_t>(SrcOff * DstSize + D * SrcSize, 0);
      const std::int64_t B = std::min<std::int64_t>(SrcOff * DstSize + (D + 1) * SrcSize, Extent * DstSize);
      if (A < B) {
        First = A / DstSize;
        for (std::int64_t I = First; I <= (B - 1) / DstSize; ++I, ++Count)
          T.Weight.push_back(static_cast<std::int32_t>(std::min(B, (I + 1) * DstSize) - std::max(A, I * DstSize)));
        Total = B - A;
      }
    }
    T.First.push_back(static_cast<std::int32_t>(First));
    T.Count.push_back(static_cast<std::int32_t>(Count));
    T.Total.push_back(Total);
    if (Count) {
      T.Low = std::min(T.Low, static_cast<std::int32_t>(First));
      T.High = std::max(T.High, static_cast<std::int32_t>(First + Count - 1));
    }
  }
  return T;
}

// The column taps of X, whose First are relative to X.Low.
TColumnTaps ColumnTaps(const TTaps& X, int Channels) {
  TColumnTaps C;
  C.Channels = Channels;
  C.N = static_cast<std::int32_t>(X.First.size());
  C.Taps = std::max(1, *std::max_element(X.Count.begin(), X.Count.end()));
  const std::size_t N = static_cast<std::size_t>(C.N), Taps = static_cast<std::size_t>(C.Taps);
  C.Offset.assign(N, -1);
  C.Weight.assign(N * Taps, 0.0f);
  C.PairWeight.assign(N / 2 * Taps * 8, 0.0f);
  C.Whole.assign(N / 8, 1);
  for (std::size_t I = 0; I < N; ++I) {
    if (!X.Count[I]) {
      if (I / 8 < C.Whole.size()) C.Whole[I / 8] = 0;
      continue;
    }
    C.Offset[I] = Channels * X.First[I];
    for (std::int32_t K = 0; K < X.Count[I]; ++K) {
      const float W = static_cast<float>(static_cast<double>(X.Weight[static_cast<std::size_t>(X.At[I] + K)]) /
                                         static_cast<double>(X.Total[I]));
      C.Weight[I * Taps + static_cast<std::size_t>(K)] = W;
      if (I / 2 < N / 2)
        std::fill_n(C.PairWeight.begin() + static_cast<std::ptrdiff_t>((I / 2 * Taps + K) * 8 + I % 2 * 4), 4, W);
    }
  }
  // Room for the taps of weight 0 past the last source pixel and for reading
  // four floats at the last one.
  C.SumsSize = static_cast<std::size_t>(Channels) * (static_cast<std::size_t>(X.High - X.Low + 1) + Taps) + 4;
  return C;
}

// Pieces of the rows of a target, taken in turn by the threads drawing them:
// a thread that the system holds back leaves its share to the others.
class TRowPieces {
 public:
  TRowPieces(std::int32_t Rows, std::int32_t Piece) : FRows(Rows), FPiece(std::max(Piece, 1)) {}
  // The next piece, rows [From, To); false when none is left.
  bool Next(std::int32_t& From, std::int32_t& To) {
    const std::int32_t F = FNext.fetch_add(FPiece);
    if (F >= FRows) return false;
    From = F;
    To = std::min(FRows, F + FPiece);
    return true;
  }

 private:
  std::int32_t FRows, FPiece;
  std::atomic<std::int32_t> FNext{0};
};

// Runs Fn on this thread and, when Both, on a second one at the same time.
template <class F>
void OnBothCores(bool Both, F&& Fn) {
  if (!Both || std::thread::hardware_concurrency() < 2) {
    Fn();
    return;
  }
  std::thread Worker([&] { Fn(); });
  Fn();
  Worker.join();
}

// A run of target pixels of a row, and the bytes of the source rows they
// read: summed and weighed one after the other while the sums are in the
// fastest cache, and while the next source bytes are on their way.
struct TChunk {
  std::int32_t From, To;          // target pixels
  std::int32_t ByteFrom, ByteTo;  // of the source rows used
};

std::vector<TChunk> Chunks(const TColumnTaps& X, std::int32_t Bytes) {
  std::vector<TChunk> C;
  // About 2 KB of each source row a chunk, in whole groups of eight pixels.
  const std::int64_t PerPixel = std::max<std::int64_t>(1, Bytes / std::max(X.N, 1));
  const std::int32_t Size = static_cast<std::int32_t>(std::clamp<std::int64_t>(2048 / PerPixel / 8 * 8, 64, 4096));
  for (std::int32_t I = 0; I < X.N; I += Size) {
    TChunk K{I, std::min(X.N, I + Size), std::numeric_limits<std::int32_t>::max(), 0};
    for (std::int32_t J = K.From; J < K.To; ++J) {
      const std::int32_t O = X.Offset[static_cast<std::size_t>(J)];
      if (O < 0) continue;
      K.ByteFrom = std::min(K.ByteFrom, O);
      K.ByteTo = std::max(K.ByteTo, std::min(Bytes, O + X.Channels * X.Taps));
    }
    if (K.ByteTo <= K.ByteFrom) continue;
    // Whole steps of the row sums, up to the row's end.
    K.ByteTo = std::min(Bytes, K.ByteFrom + (K.ByteTo - K.ByteFrom + 15) / 16 * 16);
    C.push_back(K);
  }
  return C;
}

// Drawing the area A of the target.
struct TPass {
  QImage* Dst;
  const TPixelView* Src;
  const TAreaMeanKernel* Kernel;
  TRect A;
  std::int32_t Low, Bytes;  // the first source column used, and the bytes of a row used
  TColumnTaps X;
  std::vector<TChunk> Chunks;
  const TTaps* Y;  // rows of A
};

// Pieces of the rows of A, as long as there are some.
void PassRows(const TPass& P, TRowPieces& Pieces) {
  const TTaps& Y = *P.Y;
  std::vector<std::int32_t> Acc(static_cast<std::size_t>(P.Bytes));
  std::vector<float> Sums(P.X.SumsSize, 0.0f);
  std::vector<const std::uint8_t*> Rows, At;
  const std::uint8_t* Base = P.Src->Bits + static_cast<std::ptrdiff_t>(P.X.Channels) * P.Low;
  std::int32_t From, To;
  while (Pieces.Next(From, To)) {
    for (std::int32_t T = P.A.Top + From; T < P.A.Top + To; ++T) {
      const std::size_t Yi = static_cast<std::size_t>(T - P.A.Top);
      const std::int32_t N = Y.Count[Yi];
      if (!N) continue;
      Rows.resize(static_cast<std::size_t>(N));
      At.resize(static_cast<std::size_t>(N));
      for (std::int32_t K = 0; K < N; ++K) Rows[static_cast<std::size_t>(K)] = Base + (Y.First[Yi] + K) * P.Src->Stride;
      const std::int32_t* W = Y.Weight.data() + Y.At[Yi];
      const float Scale = 1.0f / static_cast<float>(Y.Total[Yi]);
      auto* Out = reinterpret_cast<std::uint32_t*>(P.Dst->scanLine(T)) + P.A.Left;
      for (const TChunk& C : P.Chunks) {
        for (std::size_t K = 0; K < Rows.size(); ++K) At[K] = Rows[K] + C.ByteFrom;
        P.Kernel->SumRows(At.data(), W, N, C.ByteTo - C.ByteFrom, Acc.data() + C.ByteFrom, Sums.data() + C.ByteFrom);
        P.Kernel->WeighColumns(Sums.data(), P.X, C.From, C.To, Scale, Out);
      }
    }
  }
}

// How many halvings make the whole of Src exactly W x H, or 0.
int ExactHalvings(const TPixelView& Src, const TRect& SrcRect, std::int32_t W, std::int32_t H) {
  if (SrcRect != TRect{0, 0, Src.Width, Src.Height}) return 0;
  for (int K = 1; K < 31 && (std::int64_t{W} << K) <= Src.Width; ++K)
    if ((std::int64_t{W} << K) == Src.Width && (std::int64_t{H} << K) == Src.Height) return K;
  return 0;
}

// Target rows in a band small enough to be halved on one thread.
std::int32_t HalvingBand(const TPixelView& Src, int K) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(((1 << 18) - 1) / (std::int64_t{Src.Width} << K), 1, 16));
}

// Pieces of the rows of DstRect (inside Dst) made by K halvings of Src, a
// band at a time: the levels between live only in a band that stays in the
// cache, and the last one is written straight into the target.

void HalvingRows(QImage& Dst, const TRect& DstRect, const TPixelView& Src, int K, TRowPieces& Pieces) {
  static const TQuarterRow24 Quarter = QuarterRow24Variants().back();  // the best
  // 24-bit pixels go to the second level in one step, 4 x 4 at a time.
  const int First = K >= 2 && Src.BitsPerPixel == 24 ? 2 : 0;
  const std::int32_t Band = HalvingBand(Src, K);
  std::vector<std::vector<std::uint32_t>> Between(static_cast<std::size_t>(K));
  std::vector<TLevelMemory> Levels;  // the levels below the first one made, the last in the target
  for (int L = std::max(First, 1); L < K; ++L) {
    auto& M = Between[static_cast<std::size_t>(L)];
    M.resize(static_cast<std::size_t>(Src.Width >> L) * static_cast<std::size_t>(Band << (K - L)));
    if (L > First)
      Levels.push_back(TLevelMemory{reinterpret_cast<std::uint8_t*>(M.data()), std::ptrdiff_t{Src.Width >> L} * 4});
  }
  Levels.push_back(TLevelMemory{});
  std::int32_t From, To;
  while (Pieces.Next(From, To)) {
    for (std::int32_t R = From; R < To; R += Band) {
      const std::int32_t Rows = std::min(Band, To - R);
      std::uint8_t* Target = Dst.scanLine(DstRect.Top + R) + 4 * static_cast<std::ptrdiff_t>(DstRect.Left);
      const std::uint8_t* Top = Src.Bits + (std::ptrdiff_t{R} << K) * Src.Stride;
      if (!First) {
        TPixelView Above = Src;
        Above.Bits = Top;
        Above.Height = Rows << K;
        Levels.back() = TLevelMemory{Target, Dst.bytesPerLine()};
        HalveLevels(TReductionLevel{Above, 1}, Src.Width, Above.Height, Levels);
        continue;
      }
      // The second level's rows, in the target when it is the last.
      const std::int32_t W2 = Src.Width >> 2, H2 = Rows << (K - 2);
      std::uint8_t* Second = K == 2 ? Target : reinterpret_cast<std::uint8_t*>(Between[2].data());
      const std::ptrdiff_t Stride2 = K == 2 ? Dst.bytesPerLine() : std::ptrdiff_t{W2} * 4;
      for (std::int32_t J = 0; J < H2; ++J) {
        const std::uint8_t* Four[4] = {Top + (4 * J) * Src.Stride, Top + (4 * J + 1) * Src.Stride,
                                       Top + (4 * J + 2) * Src.Stride, Top + (4 * J + 3) * Src.Stride};
        Quarter(Four, W2, reinterpret_cast<std::uint32_t*>(Second + J * Stride2));
      }
      if (K == 2) continue;
      TPixelView Above{Second, Stride2, W2, H2, 32};
      Above.Alpha = akPremultiplied;  // opaque
      Levels.back() = TLevelMemory{Target, Dst.bytesPerLine()};
      HalveLevels(TReductionLevel{Above, 4}, Src.Width, Rows << K, Levels);
    }
  }
}

}  // namespace

std::vector<TQuarterRow24> QuarterRow24Variants() {
  std::vector<TQuarterRow24> V = {QuarterRow24Plain};
#ifdef KEST_X86
  if (__builtin_cpu_supports("avx2")) V.push_back(QuarterRow24Avx2);
#endif
  return V;
}

std::vector<TAreaMeanKernel> AreaMeanKernels() {
  std::vector<TAreaMeanKernel> V = {{SumRowsPlain, WeighColumnsPlain}};
#ifdef KEST_X86
  V.push_back({SumRowsPlain, WeighColumnsSse2});
  if (__builtin_cpu_supports("avx2")) {
    V.push_back({SumRowsAvx2, WeighColumnsSse2});
    V.push_back({SumRowsAvx2, WeighColumnsAvx2});
  }
#endif
  return V;
}

bool AreaMeanFits(const TPixelView& Src, const TRect& SrcRect, std::int32_t DstW, std::int32_t DstH) {
  if (!Src.Bits || Src.Width <= 0 || Src.Height <= 0 || SrcRect.IsEmpty() || DstW <= 0 || DstH <= 0) return false;
  if (!(Src.BitsPerPixel == 24 || (Src.BitsPerPixel == 32 && DefaultMasks32(Src) && Src.Alpha == akNone))) return false;
  // Row weights go into 16-bit multipliers and the sums of a column, at most
  // 255 times the rows' height, into 32 bits; the byte offsets of a row fit.
  const bool ShrinksY = DstH < SrcRect.Height();
  return (!ShrinksY || DstH <= 32767) &&
         std::int64_t{SrcRect.Height()} * 255 <= std::numeric_limits<std::int32_t>::max() &&
         std::int64_t{Src.Width} * 4 < std::numeric_limits<std::int32_t>::max() - 64;
}

void AreaMeanBlt(QImage& Dst, const TRect& DstRect, const QRegion* Clip, const TPixelView& Src, const TRect& SrcRect,
                 const TAreaMeanKernel* Kernel) {
  if (DstRect.IsEmpty() || Dst.isNull() || Dst.depth() != 32 ||
      !AreaMeanFits(Src, SrcRect, DstRect.Width(), DstRect.Height()))
    return;
  static const TAreaMeanKernel Best = AreaMeanKernels().back();
  Dst.bits();  // detached before any thread starts
  // The whole picture at exactly a half, a quarter, ... of its size, drawn
  // whole: the exact means of its 2 x 2, 4 x 4, ... blocks, by halving.
  const int K = Kernel ? 0 : ExactHalvings(Src, SrcRect, DstRect.Width(), DstRect.Height());
  if (K > 0 && DstRect.Left >= 0 && DstRect.Top >= 0 && DstRect.Right <= Dst.width() &&
      DstRect.Bottom <= Dst.height() &&
      (!Clip || QRegion(DstRect.Left, DstRect.Top, DstRect.Width(), DstRect.Height()).subtracted(*Clip).isEmpty())) {
    TRowPieces Pieces(DstRect.Height(), HalvingBand(Src, K));
    OnBothCores(std::int64_t{Src.Width} * Src.Height >= (1 << 20) && DstRect.Height() >= 2,
                [&] { HalvingRows(Dst, DstRect, Src, K, Pieces); });
    return;
  }
  if (!Kernel) Kernel = &Best;
  const int Channels = Src.BitsPerPixel / 8;
  auto Area = [&](const TRect& A) {
    TTaps X = MakeTaps(A.Left - DstRect.Left, A.Right - DstRect.Left, DstRect.Width(), SrcRect.Left, SrcRect.Width(),
                       Src.Width);
    if (X.High < 0) return;
    const TTaps Y = MakeTaps(A.Top - DstRect.Top, A.Bottom - DstRect.Top, DstRect.Height(), SrcRect.Top,
                             SrcRect.Height(), Src.Height);
    if (Y.High < 0) return;
    for (std::int32_t& F : X.First) F -= X.Low;
    TPass P{&Dst, &Src, Kernel, A, X.Low, Channels * (X.High - X.Low + 1), ColumnTaps(X, Channels), {}, &Y};
    P.Chunks = Chunks(P.X, P.Bytes);
    // Both cores when there is enough to read.
    const std::int64_t Read = std::int64_t{Channels} * (X.High - X.Low + 1) * (Y.High - Y.Low + 1);
    TRowPieces Pieces(A.Height(), 16);
    OnBothCores(Read >= (1 << 20) && A.Height() >= 2, [&] { PassRows(P, Pieces); });
  };
  // Each rectangle of the clip within the target and the image.
  const TRect Bounds = IntersectRect(DstRect, TRect{0, 0, Dst.width(), Dst.height()});
  if (Bounds.IsEmpty()) return;
  const QRegion Inside(Bounds.Left, Bounds.Top, Bounds.Width(), Bounds.Height());
  for (const QRect& Q : Clip ? Clip->intersected(Inside) : Inside)
    Area(TRect{Q.left(), Q.top(), Q.right() + 1, Q.bottom() + 1});
}
