#include "picture/jpeg/JpegSplitDecode_p.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picture/jpeg/JpegBytes_p.h"

TJpegSplitSettings& JpegSplitSettings() {
  static TJpegSplitSettings Settings{std::thread::hardware_concurrency() >= 2};
  return Settings;
}

namespace {

std::atomic<std::size_t> LastTakenFromSecond{0};

}  // namespace

std::size_t JpegSplitLastTakenFromSecond() { return LastTakenFromSecond.load(std::memory_order_relaxed); }

namespace {

constexpr int MaxBlocksInMcu = 6;
constexpr int LookBits = 10;
// Pieces of a file read at a time.
constexpr std::size_t Piece = 64 * 1024;

// Zigzag order to the block's natural order, with the library's sixteen
// extra entries that absorb a run past the last coefficient.
constexpr std::uint8_t NaturalOrder[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,
    6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
    39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// Beyond any position a real run reaches (63 + 15).
constexpr std::uint8_t EndOfBlockRun = 128;

inline int Extend(int V, int S) { return V < (1 << (S - 1)) ? V + static_cast<int>(~0u << S) + 1 : V; }

// One Huffman table, decoded LookBits bits at a time where it can.
struct THuffTable {
  // (length << 8) | symbol for codes up to LookBits long; 0 otherwise.
  std::uint16_t Look[1 << LookBits];
  // For AC tables: a whole coefficient from one look (its code and magnitude
  // bits fit): value, zero run before it, bits used (0: decode the long way);
  // the end of the block as a run of EndOfBlockRun.
  struct TFast {
    std::int16_t Value;
    std::uint8_t Run;
    std::uint8_t Length;
  } Fast[1 << LookBits];
  std::int32_t MaxCode[18];
  std::int32_t ValOffset[18];
  std::uint8_t Values[256];
};

// Builds the table as the library derives it, refusing what it refuses.
bool BuildTable(const JHUFF_TBL* T, bool Dc, THuffTable& H) {
  if (!T) return false;
  std::uint8_t Size[257];
  std::uint32_t Code[257];
  int P = 0;
  for (int L = 1; L <= 16; ++L) {
    const int N = T->bits[L];
    if (P + N > 256) return false;
    for (int K = 0; K < N; ++K) Size[P++] = static_cast<std::uint8_t>(L);
  }
  Size[P] = 0;
  const int Count = P;
  std::uint32_t C = 0;
  int Si = Size[0];
  P = 0;
  while (Size[P]) {
    while (Size[P] == Si) Code[P++] = C++;
    if (C >= (1u << Si)) return false;
    C <<= 1;
    ++Si;
  }
  P = 0;
  for (int L = 1; L <= 16; ++L) {
    if (T->bits[L]) {
      H.ValOffset[L] = P - static_cast<std::int32_t>(Code[P]);
      P += T->bits[L];
      H.MaxCode[L] = static_cast<std::int32_t>(Code[P - 1]);
    } else {
      H.MaxCode[L] = -1;
    }
  }
  H.MaxCode[17] = std::numeric_limits<std::int32_t>::max();
  std::memcpy(H.Values, T->huffval, sizeof H.Values);
  if (Dc)
    for (int I = 0; I < Count; ++I)
      if (T->huffval[I] > 15) return false;
  std::memset(H.Look, 0, sizeof H.Look);
  std::memset(H.Fast, 0, sizeof H.Fast);
  for (int I = 0; I < Count; ++I) {
    const int L = Size[I];
    if (L > LookBits) continue;
    const std::uint32_t First = Code[I] << (LookBits - L);
    for (std::uint32_t K = 0; K < (1u << (LookBits - L)); ++K)
      H.Look[First + K] = static_cast<std::uint16_t>(L << 8 | T->huffval[I]);
  }
  if (!Dc) {
    for (std::uint32_t Peek = 0; Peek < (1u << LookBits); ++Peek) {
      const int E = H.Look[Peek];
      if (!E) continue;
      const int L = E >> 8, Sym = E & 0xFF, S = Sym & 15;
      // The end of the block (the commonest symbol): a run past every position.
      if (Sym == 0) H.Fast[Peek] = {0, EndOfBlockRun, static_cast<std::uint8_t>(L)};
      if (S == 0 || L + S > LookBits) continue;
      const int Bits = static_cast<int>((Peek >> (LookBits - L - S)) & ((1u << S) - 1));
      H.Fast[Peek] = {static_cast<std::int16_t>(Extend(Bits, S)), static_cast<std::uint8_t>(Sym >> 4),
                      static_cast<std::uint8_t>(L + S)};
    }
  }
  return true;
}

// The bits of the entropy-coded data, most significant first, with stuffed
// zero bytes taken out. At a marker (or the end of the data) it goes on with
// zero bits, as the library does, and counts them apart from the real ones.
class TBitReader {
 public:
  TBitReader(const TJpegScanData& Data, std::size_t From, std::size_t Mark) : FData(Data), FOffset(From), FMark(Mark) {
    if (Data.Memory.data()) {
      FP = Data.Memory.data() + std::min(From, Data.Memory.size());
      FEnd = Data.Memory.data() + std::min(Data.End, Data.Memory.size());
      FOffset = Data.End;
    } else {
      FPiece.reset(new std::uint8_t[Piece]);
      FP = FEnd = FPiece.get();
    }
    SetFastEnd();
  }

  // At least 32 bits in the buffer.
  void Ensure() {
    if (FBits < 32) Refill();
  }
  // The buffer into locals and back, and a refill of locals.
  void Take(std::uint64_t& Buf, int& Bits) const {
    Buf = FBuf;
    Bits = FBits;
  }
  void Give(std::uint64_t Buf, int Bits) {
    FBuf = Buf;
    FBits = Bits;
  }
  // Fills a bit buffer held in locals to at least 57 bits: eight bytes at
  // once when none of them is 0xFF and no mark is to be passed, else the
  // careful way. By value, so that the locals stay in registers.
  struct TBits {
    std::uint64_t Buf;
    int Bits;
  };
  TBits Refill(TBits S) {
    if (FP < FFastEnd) {
      std::uint64_t V;
      std::memcpy(&V, FP, 8);
      V = __builtin_bswap64(V);
      const std::uint64_t NotV = ~V;
      if (((NotV - 0x0101010101010101ull) & ~NotV & 0x8080808080808080ull) == 0) {
        const int K = (64 - S.Bits) >> 3;
        S.Buf |= (V >> (64 - 8 * K)) << (64 - 8 * K - S.Bits);
        FP += K;
        S.Bits += 8 * K;
        FLoaded += static_cast<std::uint64_t>(8 * K);
        return S;
      }
    }
    return RefillSlow(S);
  }
  [[gnu::noinline]] TBits RefillSlow(TBits S) {
    Give(S.Buf, S.Bits);
    Refill();
    return {FBuf, FBits};
  }
  void Drop(int N) {
    FBuf <<= N;
    FBits -= N;
  }
  // Bits consumed so far, counted from the start of this reader.
  std::uint64_t Position() const { return FLoaded - static_cast<std::uint64_t>(FBits); }
  // Bits before the mark (the raw byte offset given), once loaded; else none.
  bool PassedMark() const { return FLoadedAtMark != NoMark; }
  std::uint64_t LoadedAtMark() const { return FLoadedAtMark; }
  // Whether bits beyond the real data have been consumed, or data read that
  // the decode leaves to the library.
  bool UsedPadding() const { return FOddStuffing || Position() > FLoaded - FPadding; }

 private:
  static constexpr std::uint64_t NoMark = ~std::uint64_t{0};

  std::size_t RawOffset() const { return FPieceOffset + static_cast<std::size_t>(FP - PieceBase()); }
  const std::uint8_t* PieceBase() const { return FData.Memory.data() ? FData.Memory.data() + 0 : FPiece.get(); }

  void Refill() {
    while (FBits <= 56) {
      if (FAtMarker) {
        FBits += 8;
        FLoaded += 8;
        FPadding += 8;
        continue;
      }
      if (FEnd - FP >= 8) {
        std::uint64_t V;
        std::memcpy(&V, FP, 8);
        V = __builtin_bswap64(V);
        const std::uint64_t NotV = ~V;
        const bool HasFF = ((NotV - 0x0101010101010101ull) & ~NotV & 0x8080808080808080ull) != 0;
        if (!HasFF) {
          const int K = (64 - FBits) >> 3;
          if (FMark != NoMarkOffset && FLoadedAtMark == NoMark) {
            const std::size_t At = RawOffset();
            if (FMark >= At && FMark < At + static_cast<std::size_t>(K)) FLoadedAtMark = FLoaded + 8 * (FMark - At);
          }
          FBuf |= (V >> (64 - 8 * K)) << (64 - 8 * K - FBits);
          FP += K;
          FBits += 8 * K;
          FLoaded += static_cast<std::uint64_t>(8 * K);
          continue;
        }
      }
      if (FMark != NoMarkOffset && FLoadedAtMark == NoMark && Available() && RawOffset() == FMark)
        FLoadedAtMark = FLoaded;
      int B = NextByte();
      if (B == 0xFF) {
        int C, Fill = 0;
        do {
          C = NextByte();
          ++Fill;
        } while (C == 0xFF);
        // Fill bytes before a stuffed zero are no data the library reads one
        // way: it takes them as a marker or skips them, depending on how its
        // input is buffered. The decode leaves such data to it.
        FOddStuffing |= C == 0 && Fill > 1;
        if (C == 0 && Fill == 1)
          B = 0xFF;
        else
          B = -1;
      }
      if (B < 0) {
        FAtMarker = true;
        continue;
      }
      FBuf |= static_cast<std::uint64_t>(B) << (56 - FBits);
      FBits += 8;
      FLoaded += 8;
    }
    SetFastEnd();
  }

  // Where the quick refill (eight bytes at a time) must stop: eight bytes
  // before the end of what is loaded or before the mark still to be passed;
  // at a marker, at once.
  void SetFastEnd() {
    const std::uint8_t* Limit = FEnd;
    if (FMark != NoMarkOffset && FLoadedAtMark == NoMark) {
      const std::size_t Base = FPieceOffset + static_cast<std::size_t>(FP - PieceBase());
      if (FMark < Base) {
        Limit = FP;
      } else if (FMark - Base < static_cast<std::size_t>(FEnd - FP)) {
        Limit = FP + (FMark - Base);
      }
    }
    FFastEnd = FAtMarker || Limit - FP < 8 ? FP : Limit - 7;
  }

  bool Available() {
    if (FP < FEnd) return true;
    return LoadPiece();
  }

  int NextByte() {
    if (FP == FEnd && !LoadPiece()) return -1;
    return *FP++;
  }

  bool LoadPiece() {
    if (FData.Memory.data()) return false;
    if (FOffset >= FData.End) return false;
    const std::size_t N = FData.File->Read(FOffset, FPiece.get(), std::min(Piece, FData.End - FOffset));
    if (N == 0) return false;
    FPieceOffset = FOffset;
    FOffset += N;
    FP = FPiece.get();
    FEnd = FP + N;
    return true;
  }

 public:
  static constexpr std::size_t NoMarkOffset = ~std::size_t{0};

 private:
  const TJpegScanData& FData;
  std::unique_ptr<std::uint8_t[]> FPiece;
  const std::uint8_t* FP = nullptr;
  const std::uint8_t* FEnd = nullptr;
  // Raw offset of the piece's first byte (of the memory's, for memory).
  std::size_t FPieceOffset = 0;
  // Raw offset of the next piece to read.
  std::size_t FOffset;
  std::size_t FMark;
  std::uint64_t FBuf = 0;
  int FBits = 0;
  std::uint64_t FLoaded = 0;
  // Zero bits given at a marker or past the end.
  std::uint64_t FPadding = 0;
  const std::uint8_t* FFastEnd = nullptr;
  std::uint64_t FLoadedAtMark = NoMark;
  bool FAtMarker = false;
  bool FOddStuffing = false;
};

// A symbol of H from the front of Buf (at least 16 bits in it); -1 when no
// code of H starts there.
inline int DecodeSymbol(std::uint64_t& Buf, int& Bits, const THuffTable& H) {
  const int E = H.Look[Buf >> (64 - LookBits)];
  if (E) {
    Buf <<= E >> 8;
    Bits -= E >> 8;
    return E & 0xFF;
  }
  for (int L = LookBits + 1; L <= 16; ++L) {
    const auto Code = static_cast<std::int32_t>(Buf >> (64 - L));
    if (Code <= H.MaxCode[L]) {
      Buf <<= L;
      Bits -= L;
      return H.Values[(H.ValOffset[L] + Code) & 0xFF];
    }
  }
  return -1;
}

// N bits (at most 16) from the front of Buf, as a signed coefficient.
inline int TakeCoefficient(std::uint64_t& Buf, int& Bits, int N) {
  if (N == 0) return 0;
  const int V = static_cast<int>(Buf >> (64 - N));
  Buf <<= N;
  Bits -= N;
  return Extend(V, N);
}

// Decodes one block: its DC difference into Diff, its AC coefficients into
// Block (all zero before) when Ac. The bit buffer is held in locals, in
// registers, and written back at the end. 0 when no AC coefficient was
// coded, 1 when some were (and written), -1 at a code no table holds.
template <bool Ac>
inline int DecodeBlock(TBitReader& R, const THuffTable& Dc, const THuffTable& AcTable, std::int16_t* Block, int& Diff) {
  std::uint64_t Buf;
  int Bits;
  R.Take(Buf, Bits);
  if (Bits < 32) {
    const TBitReader::TBits F = R.Refill({Buf, Bits});
    Buf = F.Buf;
    Bits = F.Bits;
  }
  const int S = DecodeSymbol(Buf, Bits, Dc);
  if (S < 0) {
    R.Give(Buf, Bits);
    return -1;
  }
  Diff = TakeCoefficient(Buf, Bits, S);
  int K = 1;
  for (; K < 64; ++K) {
    if (Bits < 32) {
      const TBitReader::TBits Filled = R.Refill({Buf, Bits});
      Buf = Filled.Buf;
      Bits = Filled.Bits;
    }
    const THuffTable::TFast F = AcTable.Fast[Buf >> (64 - LookBits)];
    if (F.Length) {
      K += F.Run;
      if (K >= EndOfBlockRun) {
        K -= EndOfBlockRun;
        Buf <<= F.Length;
        Bits -= F.Length;
        break;
      }
      if constexpr (Ac) Block[NaturalOrder[K]] = F.Value;
      Buf <<= F.Length;
      Bits -= F.Length;
      continue;
    }
    const int Sym = DecodeSymbol(Buf, Bits, AcTable);
    if (Sym < 0) {
      R.Give(Buf, Bits);
      return -1;
    }
    const int Run = Sym >> 4, Size = Sym & 15;
    if (Size) {
      K += Run;
      const int V = TakeCoefficient(Buf, Bits, Size);
      if constexpr (Ac) Block[NaturalOrder[K]] = static_cast<std::int16_t>(V);
    } else {
      if (Run != 15) break;
      K += 15;
    }
  }
  R.Give(Buf, Bits);
  // A coefficient was coded (or a run of zeros, which does no harm) when the
  // position moved on.
  return K > 1 ? 1 : 0;
}

inline int DecodeBlock(TBitReader& R, const THuffTable& Dc, const THuffTable& AcTable, bool Ac, std::int16_t* Block,
                       int& Diff) {
  return Ac ? DecodeBlock<true>(R, Dc, AcTable, Block, Diff) : DecodeBlock<false>(R, Dc, AcTable, Block, Diff);
}

// The columns of a block that hold a coefficient (bit C for column C), its
// DC coefficient left out.
inline unsigned UsedColumns(const std::int16_t* B) {
#if defined(__SSE2__)
  __m128i Or = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(B)), _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1));
  for (int Row = 1; Row < 8; ++Row) Or = _mm_or_si128(Or, _mm_loadu_si128(reinterpret_cast<const __m128i*>(B + 8 * Row)));
  const __m128i Zero = _mm_cmpeq_epi16(Or, _mm_setzero_si128());
  return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(Zero, Zero))) & 0xFFu;
#else
  unsigned Used = 0;
  for (int Col = 0; Col < 8; ++Col)
    for (int Row = Col == 0 ? 1 : 0; Row < 8; ++Row)
      if (B[8 * Row + Col]) Used |= 1u << Col;
  return Used;
#endif
}

// The library's reduced inverse DCTs (4x4 and 2x2 outputs from a block)
// without the DC term. The DC term adds a multiple of a power of two that
// the first pass's descaling keeps whole, so each output comes out as
// (16 * DcDequantized + Rs + 64) >> 7 (see PutSamples), where Rs is the output
// before its final descaling shifted right by all but 7 of that descaling's
// bits: the bits dropped cannot change the result. The first pass skips the
// columns the second does not read (2, 4 and 6 for 2x2, 4 for 4x4) and the
// columns without coefficients, whose values are zero; the library's other
// shortcuts for zero terms give the same values as the full sums.
//
// The library's vector versions of these transforms keep their values in 16
// bits; the plain ones do not. Both agree on every block an 8-bit picture
// gives, not on wild ones: a block whose dequantized coefficients reach 2^12
// in size (no 8-bit picture's do) or whose first pass reaches 2^14 (2^15 with
// the DC term) is left to the library (false), as is a sample outside the
// range limit's plain part (see PutSamples). Within those bounds every sum of
// the second pass stays under 2^31.
template <int Size>
bool IdctWithoutDc(const std::int16_t* B, const std::int16_t* Q, std::int32_t* Rs) {
  const auto D = [B, Q](int I) { return std::int32_t{B[I]} * Q[I]; };
  constexpr std::int32_t F0211164243 = 1730, F0509795579 = 4176, F0601344887 = 4926, F0720959822 = 5906,
                         F0765366865 = 6270, F0850430095 = 6967, F0899976223 = 7373, F1061594337 = 8697,
                         F1272758580 = 10426, F1451774981 = 11893, F1847759065 = 15137, F2172734803 = 17799,
                         F2562915447 = 20995, F3624509785 = 29692;
  std::int32_t Ws[Size][8] = {};
  std::uint32_t Wide = 0;
  for (unsigned Cols = UsedColumns(B) & (Size == 2 ? 0xABu : 0xEFu); Cols; Cols &= Cols - 1) {
    const int Col = std::countr_zero(Cols);
    const std::int32_t Dc = Col == 0 ? 0 : D(Col);
    if constexpr (Size == 2) {
      const std::int32_t Tmp10 = Dc * 32768;
      const std::int32_t Tmp0 = D(56 + Col) * -F0720959822 + D(40 + Col) * F0850430095 +
                                D(24 + Col) * -F1272758580 + D(8 + Col) * F3624509785;
      Ws[0][Col] = (Tmp10 + Tmp0 + 4096) >> 13;
      Ws[1][Col] = (Tmp10 - Tmp0 + 4096) >> 13;
    } else {
      const std::int32_t T0 = Dc * 16384;
      const std::int32_t T2 = D(16 + Col) * F1847759065 + D(48 + Col) * -F0765366865;
      const std::int32_t Tmp10 = T0 + T2, Tmp12 = T0 - T2;
      const std::int32_t Z1 = D(56 + Col), Z2 = D(40 + Col), Z3 = D(24 + Col), Z4 = D(8 + Col);
      const std::int32_t Odd0 = Z1 * -F0211164243 + Z2 * F1451774981 + Z3 * -F2172734803 + Z4 * F1061594337;
      const std::int32_t Odd2 = Z1 * -F0509795579 + Z2 * -F0601344887 + Z3 * F0899976223 + Z4 * F2562915447;
      Ws[0][Col] = (Tmp10 + Odd2 + 2048) >> 12;
      Ws[3][Col] = (Tmp10 - Odd2 + 2048) >> 12;
      Ws[1][Col] = (Tmp12 + Odd0 + 2048) >> 12;
      Ws[2][Col] = (Tmp12 - Odd0 + 2048) >> 12;
    }
    // The DC term (left out) adds at most 2^14 to column 0.
    for (int Row = 0; Row < Size; ++Row) Wide |= static_cast<std::uint32_t>(Ws[Row][Col] + 16384) >= 32768u;
  }
  if (Wide) return false;
  for (int Row = 0; Row < Size; ++Row) {
    const std::int32_t* W = Ws[Row];
    if constexpr (Size == 2) {
      const std::int32_t Tmp10 = W[0] * 32768;
      const std::int32_t Tmp0 = W[7] * -F0720959822 + W[5] * F0850430095 + W[3] * -F1272758580 + W[1] * F3624509785;
      Rs[Row * 2] = (Tmp10 + Tmp0) >> 13;
      Rs[Row * 2 + 1] = (Tmp10 - Tmp0) >> 13;
    } else {
      const std::int32_t T0 = W[0] * 16384;
      const std::int32_t T2 = W[2] * F1847759065 + W[6] * -F0765366865;
      const std::int32_t Tmp10 = T0 + T2, Tmp12 = T0 - T2;
      const std::int32_t Z1 = W[7], Z2 = W[5], Z3 = W[3], Z4 = W[1];
      const std::int32_t Odd0 = Z1 * -F0211164243 + Z2 * F1451774981 + Z3 * -F2172734803 + Z4 * F1061594337;
      const std::int32_t Odd2 = Z1 * -F0509795579 + Z2 * -F0601344887 + Z3 * F0899976223 + Z4 * F2562915447;
      std::int32_t* O = Rs + Row * 4;
      O[0] = (Tmp10 + Odd2) >> 12;
      O[3] = (Tmp10 - Odd2) >> 12;
      O[1] = (Tmp12 + Odd0) >> 12;
      O[2] = (Tmp12 - Odd0) >> 12;
    }
  }
  return true;
}

#if defined(__SSE2__)
// IdctWithoutDc on eight columns at once: the same sums in the same 32-bit
// integers (pairs of 16-bit products added by one instruction), so the same
// outputs. Returns false, too, for a dequantized coefficient of 2^12 or more
// in size in a row the transform reads (the plain version's caller checks
// every row, leaving a few more wild blocks to the library).
namespace vec {

inline __m128i Load(const std::int16_t* P) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)); }
inline __m128i LoadInts(const std::int32_t* P) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)); }
// Two 16-bit factors, A for the first of a pair and B for the second.
inline __m128i Pair(int A, int B) {
  return _mm_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(A) | static_cast<std::uint32_t>(static_cast<std::uint16_t>(B)) << 16));
}
// A * Ca + B * Cb for columns 0 to 3 (Lo) and 4 to 7 (Hi).
struct TCols {
  __m128i Lo, Hi;
};
inline TCols Madd(__m128i A, __m128i B, int Ca, int Cb) {
  const __m128i C = Pair(Ca, Cb);
  return {_mm_madd_epi16(_mm_unpacklo_epi16(A, B), C), _mm_madd_epi16(_mm_unpackhi_epi16(A, B), C)};
}
inline TCols operator+(TCols A, TCols B) { return {_mm_add_epi32(A.Lo, B.Lo), _mm_add_epi32(A.Hi, B.Hi)}; }
inline TCols operator-(TCols A, TCols B) { return {_mm_sub_epi32(A.Lo, B.Lo), _mm_sub_epi32(A.Hi, B.Hi)}; }
// The 16-bit values, widened and shifted left by N.
inline TCols Widen(__m128i A, int N) {
  return {_mm_slli_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(A, A), 16), N),
          _mm_slli_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(A, A), 16), N)};
}
inline TCols Descale(TCols A, int Round, int N) {
  const __m128i R = _mm_set1_epi32(Round);
  return {_mm_srai_epi32(_mm_add_epi32(A.Lo, R), N), _mm_srai_epi32(_mm_add_epi32(A.Hi, R), N)};
}
// Nonzero lanes where a used column's value leaves [-2^14, 2^14).
inline __m128i Outside(TCols A, __m128i UsedLo, __m128i UsedHi) {
  const __m128i H = _mm_set1_epi32(16384);
  return _mm_or_si128(_mm_and_si128(_mm_srai_epi32(_mm_add_epi32(A.Lo, H), 15), UsedLo),
                      _mm_and_si128(_mm_srai_epi32(_mm_add_epi32(A.Hi, H), 15), UsedHi));
}
inline __m128i Narrow(TCols A) { return _mm_packs_epi32(A.Lo, A.Hi); }
// The sums of the four lanes of A, B, C and D, in that order.
inline __m128i Sums(__m128i A, __m128i B, __m128i C, __m128i D) {
  const __m128i Ab = _mm_add_epi32(_mm_unpacklo_epi32(A, B), _mm_unpackhi_epi32(A, B));
  const __m128i Cd = _mm_add_epi32(_mm_unpacklo_epi32(C, D), _mm_unpackhi_epi32(C, D));
  return _mm_add_epi32(_mm_unpacklo_epi64(Ab, Cd), _mm_unpackhi_epi64(Ab, Cd));
}
inline __m128i Row(int A0, int A1, int A2, int A3, int A4, int A5, int A6, int A7) {
  return _mm_setr_epi16(static_cast<short>(A0), static_cast<short>(A1), static_cast<short>(A2), static_cast<short>(A3),
                        static_cast<short>(A4), static_cast<short>(A5), static_cast<short>(A6), static_cast<short>(A7));
}

template <int Size>
bool IdctWithoutDc(const std::int16_t* B, const std::int16_t* Q, std::int32_t* Rs) {
  // Dequantized rows, the DC term left out; any product outside
  // [-4095, 4095] (or outside 16 bits) marks the block as wild.
  // Only the rows the transform reads: not 2, 4 and 6 for 2x2, not 4 for 4x4.
  __m128i D[8];
  __m128i Bad = _mm_setzero_si128();
  const __m128i Lim = _mm_set1_epi16(4095), NegLim = _mm_set1_epi16(-4095);
  const auto Dequantize = [&](int R) {
    const __m128i Bv = Load(B + 8 * R), Qv = Load(Q + 8 * R);
    const __m128i Lo = _mm_mullo_epi16(Bv, Qv), Hi = _mm_mulhi_epi16(Bv, Qv);
    Bad = _mm_or_si128(Bad, _mm_xor_si128(Hi, _mm_srai_epi16(Lo, 15)));
    Bad = _mm_or_si128(Bad, _mm_or_si128(_mm_cmpgt_epi16(Lo, Lim), _mm_cmplt_epi16(Lo, NegLim)));
    D[R] = Lo;
  };
  Dequantize(0);
  Dequantize(1);
  Dequantize(3);
  Dequantize(5);
  Dequantize(7);
  if constexpr (Size == 4) {
    Dequantize(2);
    Dequantize(6);
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(Bad, _mm_setzero_si128())) != 0xFFFF) return false;
  D[0] = _mm_and_si128(D[0], Row(0, -1, -1, -1, -1, -1, -1, -1));
  if constexpr (Size == 2) {
    const TCols Tmp10 = Widen(D[0], 15);
    const TCols Tmp0 = Madd(D[7], D[5], -5906, 6967) + Madd(D[3], D[1], -10426, 29692);
    const TCols W0 = Descale(Tmp10 + Tmp0, 4096, 13), W1 = Descale(Tmp10 - Tmp0, 4096, 13);
    // Columns 0, 1, 3, 5 and 7 are read.
    const __m128i UsedLo = _mm_setr_epi32(-1, -1, 0, -1), UsedHi = _mm_setr_epi32(0, -1, 0, -1);
    const __m128i Out = _mm_or_si128(Outside(W0, UsedLo, UsedHi), Outside(W1, UsedLo, UsedHi));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(Out, _mm_setzero_si128())) != 0xFFFF) return false;
    const __m128i R0 = Narrow(W0), R1 = Narrow(W1);
    const __m128i K = Row(0, 29692, 0, -10426, 0, 6967, 0, -5906);
    const __m128i M0 = _mm_madd_epi16(R0, K), M1 = _mm_madd_epi16(R1, K);
    const __m128i T = _mm_add_epi32(_mm_unpacklo_epi32(M0, M1), _mm_unpackhi_epi32(M0, M1));
    alignas(16) std::int32_t Odd[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(Odd), _mm_add_epi32(T, _mm_srli_si128(T, 8)));
    const std::int32_t A = static_cast<std::int16_t>(_mm_cvtsi128_si32(R0)) * 32768;
    const std::int32_t C = static_cast<std::int16_t>(_mm_cvtsi128_si32(R1)) * 32768;
    Rs[0] = (A + Odd[0]) >> 13;
    Rs[1] = (A - Odd[0]) >> 13;
    Rs[2] = (C + Odd[1]) >> 13;
    Rs[3] = (C - Odd[1]) >> 13;
  } else {
    const TCols T0 = Widen(D[0], 14);
    const TCols T2 = Madd(D[2], D[6], 15137, -6270);
    const TCols Tmp10 = T0 + T2, Tmp12 = T0 - T2;
    const TCols Odd0 = Madd(D[7], D[5], -1730, 11893) + Madd(D[3], D[1], -17799, 8697);
    const TCols Odd2 = Madd(D[7], D[5], -4176, -4926) + Madd(D[3], D[1], 7373, 20995);
    const TCols W[4] = {Descale(Tmp10 + Odd2, 2048, 12), Descale(Tmp12 + Odd0, 2048, 12),
                        Descale(Tmp12 - Odd0, 2048, 12), Descale(Tmp10 - Odd2, 2048, 12)};
    // Every column but 4 is read.
    const __m128i UsedLo = _mm_set1_epi32(-1), UsedHi = _mm_setr_epi32(0, -1, -1, -1);
    __m128i Out = _mm_setzero_si128();
    for (const TCols& Wr : W) Out = _mm_or_si128(Out, Outside(Wr, UsedLo, UsedHi));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(Out, _mm_setzero_si128())) != 0xFFFF) return false;
    __m128i R[4];
    for (int I = 0; I < 4; ++I) R[I] = Narrow(W[I]);
    const auto Across = [&R](__m128i K) {
      return Sums(_mm_madd_epi16(R[0], K), _mm_madd_epi16(R[1], K), _mm_madd_epi16(R[2], K), _mm_madd_epi16(R[3], K));
    };
    // Each of the four rows' sums, one row per lane.
    const __m128i P10 = Across(Row(16384, 0, 15137, 0, 0, 0, -6270, 0));
    const __m128i P12 = Across(Row(16384, 0, -15137, 0, 0, 0, 6270, 0));
    const __m128i Q0 = Across(Row(0, 8697, 0, -17799, 0, 11893, 0, -1730));
    const __m128i Q2 = Across(Row(0, 20995, 0, 7373, 0, -4926, 0, -4176));
    const __m128i O0 = _mm_srai_epi32(_mm_add_epi32(P10, Q2), 12), O3 = _mm_srai_epi32(_mm_sub_epi32(P10, Q2), 12);
    const __m128i O1 = _mm_srai_epi32(_mm_add_epi32(P12, Q0), 12), O2 = _mm_srai_epi32(_mm_sub_epi32(P12, Q0), 12);
    // Lanes are rows; the outputs go row by row.
    const __m128i A = _mm_unpacklo_epi32(O0, O1), Bv = _mm_unpacklo_epi32(O2, O3);
    const __m128i C = _mm_unpackhi_epi32(O0, O1), Dv = _mm_unpackhi_epi32(O2, O3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Rs), _mm_unpacklo_epi64(A, Bv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Rs + 4), _mm_unpackhi_epi64(A, Bv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Rs + 8), _mm_unpacklo_epi64(C, Dv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Rs + 12), _mm_unpackhi_epi64(C, Dv));
  }
  return true;
}

}  // namespace vec
#endif

// The reduced inverse DCT of a block, false when it is left to the library.
inline bool ReducedIdct(int Size, const std::int16_t* B, const std::int16_t* Q, int MaxQ, std::int32_t* Rs, int Count,
                        bool Vector) {
  if (Size == 1 || Count == 0) {
    std::fill(Rs, Rs + Size * Size, 0);
    return true;
  }
#if defined(__SSE2__)
  if (Vector) return Size == 2 ? vec::IdctWithoutDc<2>(B, Q, Rs) : vec::IdctWithoutDc<4>(B, Q, Rs);
#endif
  // The magnitude bits of every coefficient together bound each one, and
  // with the largest quantiser each dequantized value.
  int Magnitudes = 0;
  for (int I = 0; I < 64; ++I) Magnitudes |= B[I] < 0 ? -B[I] : B[I];
  if (Magnitudes * MaxQ >= 4096) {
    // The bound is loose (the largest coefficient need not meet the largest
    // quantiser): each dequantized value then.
    std::uint32_t Wide = 0;
    for (int I = 0; I < 64; ++I) Wide |= static_cast<std::uint32_t>(B[I] * Q[I] + 4095) >= 8191u;
    if (Wide) return false;
  }
  return Size == 2 ? IdctWithoutDc<2>(B, Q, Rs) : IdctWithoutDc<4>(B, Q, Rs);
}

inline void ClearBlock(std::int16_t* Block) {
  for (int I = 0; I < 64; I += 8) std::memset(Block + I, 0, 16);
}

// How a component's samples reach the output's size.
enum TUpsample { upNone, upH2V1, upH2V2, upH2V1Fancy, upH2V2Fancy };

struct TComponent {
  int H = 1, V = 1;
  // Samples across (and down) each block: the library's reduced DCT size.
  int Size = 2;
  TUpsample Up = upNone;
  const THuffTable* Dc = nullptr;
  const THuffTable* Ac = nullptr;
  std::int16_t Quant[64];
  int MaxQuant = 0;
  // Where the reduced samples go. Samples at the output's size (the luma,
  // and chroma that is not upsampled) go straight into the output's pixels,
  // one byte of three, and are converted there; others to a plane of whole
  // blocks, MCU grid wide and high. Samples past Limit are dropped.
  std::vector<std::uint8_t> Plane;
  std::uint8_t* Base = nullptr;
  std::ptrdiff_t RowStep = 0;
  std::size_t ColStep = 1;
  std::size_t LimitX = 0, LimitY = 0;
  std::uint32_t Width = 0, Height = 0;  // the samples that count
};

// Marks a kept output of a block left to the library, or too large for 16
// bits (only wild coefficients give either).
constexpr std::int16_t Unkept = std::numeric_limits<std::int16_t>::min();

class TSplitDecoder {
 public:
  TSplitDecoder(const jpeg_decompress_struct& I, const TJpegScanData& Data) : FInfo(I), FData(Data) {}
  bool SetUp();
  bool Decode(std::uint8_t* First, std::ptrdiff_t Stride, const TJpegRowsDone& RowsDone);

 private:
  struct TRunState {
    int Pred[3] = {0, 0, 0};
  };
  // Decodes MCU M's blocks into the output (only reads its codes unless
  // Write); false at a bad code.
  bool DecodeMcu(TBitReader& R, TRunState& St, std::size_t M, bool Write = true);
  // Decodes one MCU and keeps it as the second thread's N-th: -1 at a bad
  // code, 1 when an output was too large to keep, else 0.
  int KeepMcu(TBitReader& R, std::size_t N);
  // The second thread's part in placing its MCUs, once it has decoded them:
  // whole MCU rows from the bottom up, converted, while the first thread
  // places from the top down.
  void HelpPlace(std::size_t LastRestart, std::size_t LastUnkept);
  // Places the MCUs of MCU row Row that are the second thread's, from kept
  // index Matched on (MCU M); St holds the DC predictions before the first.
  bool PlaceRow(std::size_t Row, TRunState& St, bool Wait);
  // Places the second thread's N-th MCU as MCU M, St holding the DC
  // predictions before it; false when it cannot.
  bool PlaceKept(std::size_t N, TRunState& St, std::size_t M);
  // Puts a block of the MCU at column McuX, row McuY of the MCU grid.
  // False (with the samples written all the same) for a block left to the library.
  bool PutBlock(int Block, std::size_t McuX, std::size_t McuY, std::int32_t Dc, const std::int32_t* Rs);
  void ConvertRows(std::uint32_t From, std::uint32_t To, std::uint8_t* First, std::ptrdiff_t Stride);
  void SecondThread(std::size_t From);

  const jpeg_decompress_struct& FInfo;
  const TJpegScanData& FData;
  // Each thread's block of coefficients, kept all zero between blocks.
  alignas(64) std::int16_t FBlock[64] = {};
  alignas(64) std::int16_t FBlock2[64] = {};
  THuffTable FTables[4];
  TComponent FComp[3];
  bool FAc = true;  // whether any block needs its AC coefficients
  // Whether transforms and placing use vector instructions (see the settings).
  bool FVector = true;
  int FBlocks = 0;
  int FBlockComp[MaxBlocksInMcu];
  int FBlockX[MaxBlocksInMcu], FBlockY[MaxBlocksInMcu];
  // Where each block's outputs start among an MCU's kept outputs; their count.
  int FBlockRs[MaxBlocksInMcu];
  int FRsPerMcu = 0;
  std::size_t FMcusPerRow = 0, FMcuRows = 0, FMcus = 0;
  std::uint32_t FRowsPerMcuRow = 0;

  // The second thread's records, one per MCU it decoded: where it began (in
  // bits from the split point), each block's DC difference and outputs
  // before the DC term.
  std::unique_ptr<std::uint64_t[]> FPos2;
  // Whether the MCU starts a new run, after a code that was no code.
  std::unique_ptr<bool[]> FRestart2;
  std::unique_ptr<std::int16_t[]> FDc2;
  std::unique_ptr<std::int16_t[]> FRs2;
  std::size_t FCapacity2 = 0;
  // On a cache line of its own: the second thread writes it after every MCU,
  // and the first thread's decoding reads the members around it.
  alignas(64) std::atomic<std::size_t> FPublished2{0};
  alignas(64) std::atomic<bool> FEnded2{false};
  // The match, once the first thread has made it (state 1; 2: none will be).
  std::atomic<int> FSyncState{0};
  std::size_t FSyncMatched = 0, FSyncM = 0;
  TRunState FSyncPreds;
  // MCU rows [high half, low half) that no thread has claimed to place.
  std::atomic<std::uint64_t> FClaims{0};
  // The first output row placed and converted by the second thread.
  std::uint32_t FBackRowsFrom = 0;
  // Whether every sample goes straight into the output (rows independent).
  bool FInPlace = false;
  std::uint8_t* FFirst = nullptr;
  std::ptrdiff_t FStride = 0;
  // MCUs decoded from real data only, once the second thread has ended.
  std::size_t FComplete2 = 0;
  std::atomic<bool> FStop{false};
  // Whether the second thread met a block it could not place.
  std::atomic<bool> FHelpFailed{false};
};

bool TSplitDecoder::SetUp() {
  const jpeg_decompress_struct& I = FInfo;
  if (I.progressive_mode || I.arith_code || I.data_precision != 8 || I.restart_interval != 0) return false;
  if (I.buffered_image || I.quantize_colors || !I.do_fancy_upsampling || I.CCIR601_sampling) return false;
  if (I.num_components != 3 || I.jpeg_color_space != JCS_YCbCr || I.out_color_space != JCS_EXT_BGR) return false;
  if (I.comps_in_scan != 3 || I.Ss != 0 || I.Se != 63 || I.Ah != 0 || I.Al != 0) return false;
  if (I.scale_num != 1 || (I.scale_denom != 4 && I.scale_denom != 8)) return false;
  const int Min = I.min_DCT_scaled_size;
  if (Min != static_cast<int>(8 / I.scale_denom)) return false;
  const int MaxH = I.max_h_samp_factor, MaxV = I.max_v_samp_factor;
  const bool Fancy = Min > 1;
  FAc = false;
  FVector = JpegSplitSettings().Vector;
  for (int C = 0; C < 3; ++C) {
    const jpeg_component_info& Info = I.comp_info[C];
    TComponent& Comp = FComp[C];
    if (I.cur_comp_info[C] != &I.comp_info[C]) return false;
    Comp.H = Info.h_samp_factor;
    Comp.V = Info.v_samp_factor;
    Comp.Size = Info.DCT_scaled_size;
    if (Comp.H < 1 || Comp.H > 2 || Comp.V < 1 || Comp.V > 2) return false;
    if (Comp.Size != 1 && Comp.Size != 2 && Comp.Size != 4) return false;
    FAc |= Comp.Size > 1;
    const int HIn = Comp.H * Comp.Size / Min, VIn = Comp.V * Comp.Size / Min;
    Comp.Width = Info.downsampled_width;
    Comp.Height = Info.downsampled_height;
    if (HIn == MaxH && VIn == MaxV)
      Comp.Up = upNone;
    else if (HIn * 2 == MaxH && VIn == MaxV)
      Comp.Up = Fancy && Comp.Width > 2 ? upH2V1Fancy : upH2V1;
    else if (HIn * 2 == MaxH && VIn * 2 == MaxV)
      Comp.Up = Fancy && Comp.Width > 2 ? upH2V2Fancy : upH2V2;
    else
      return false;
    if (C == 0 && Comp.Up != upNone) return false;
    if (Info.quant_tbl_no < 0 || Info.quant_tbl_no >= NUM_QUANT_TBLS) return false;
    const JQUANT_TBL* Q = I.quant_tbl_ptrs[Info.quant_tbl_no];
    if (!Q) return false;
    for (int K = 0; K < 64; ++K) {
      if (Q->quantval[K] > 255) return false;
      Comp.Quant[K] = static_cast<std::int16_t>(Q->quantval[K]);
      Comp.MaxQuant = std::max<int>(Comp.MaxQuant, Q->quantval[K]);
    }
    if (Info.dc_tbl_no < 0 || Info.dc_tbl_no > 1 || Info.ac_tbl_no < 0 || Info.ac_tbl_no > 1) return false;
    Comp.Dc = &FTables[Info.dc_tbl_no];
    Comp.Ac = &FTables[2 + Info.ac_tbl_no];
  }
  for (int T = 0; T < 2; ++T) {
    bool DcUsed = false, AcUsed = false;
    for (const TComponent& C : FComp) {
      DcUsed |= C.Dc == &FTables[T];
      AcUsed |= C.Ac == &FTables[2 + T];
    }
    if (DcUsed && !BuildTable(I.dc_huff_tbl_ptrs[T], true, FTables[T])) return false;
    if (AcUsed && !BuildTable(I.ac_huff_tbl_ptrs[T], false, FTables[2 + T])) return false;
  }
  FMcusPerRow = (I.image_width + 8u * MaxH - 1) / (8u * MaxH);
  FMcuRows = (I.image_height + 8u * MaxV - 1) / (8u * MaxV);
  FMcus = FMcusPerRow * FMcuRows;
  if (FMcus == 0 || I.output_width == 0 || I.output_height == 0) return false;
  FRowsPerMcuRow = static_cast<std::uint32_t>(MaxV * Min);
  FBlocks = 0;
  FRsPerMcu = 0;
  for (int C = 0; C < 3; ++C)
    for (int Y = 0; Y < FComp[C].V; ++Y)
      for (int X = 0; X < FComp[C].H; ++X) {
        if (FBlocks == MaxBlocksInMcu) return false;
        FBlockComp[FBlocks] = C;
        FBlockX[FBlocks] = X;
        FBlockY[FBlocks] = Y;
        FBlockRs[FBlocks] = FRsPerMcu;
        if (FComp[C].Size > 1) FRsPerMcu += FComp[C].Size * FComp[C].Size;
        ++FBlocks;
      }
  // What the second thread keeps of about half the MCUs may come to half as
  // much again as the output (a photograph's draft keeps about 1.2 times its
  // size), and never to more than MaxKept: the drafts of huge pictures are
  // left to the library, whose memory stays that of its output.
  const std::uint64_t Kept = (std::uint64_t{FMcus} / 2 + 1) *
                             (sizeof(std::uint64_t) + sizeof(bool) + static_cast<std::uint64_t>(FBlocks + FRsPerMcu) * 2);
  const std::uint64_t Output = std::uint64_t{I.output_width} * I.output_height * 3;
  const std::uint64_t Allowed = std::max<std::uint64_t>(Output + Output / 2, std::uint64_t{16} << 20);
  if (Kept > std::min<std::uint64_t>(Allowed, JpegSplitSettings().MaxKept)) return false;
  return FMcus >= JpegSplitSettings().MinMcus;
}

namespace {

// Writes the samples of a block's outputs, Rows by Cols of them, Step bytes
// apart in a row; whether all were in the range limit's plain part. A sample
// is (16 * DcDeq + Rs + 64) >> 7 before the range limit, which for
// blocks an 8-bit picture gives lies within [-512, 512), where the limit is a
// plain clamp.
template <int Size>
bool PutSamples(std::uint8_t* P, std::ptrdiff_t RowStep, std::size_t Step, std::size_t Rows, std::size_t Cols,
                std::int32_t DcDeq, const std::int32_t* Rs) {
  std::uint32_t Wild = 0;
  const std::int32_t Base = 16 * DcDeq + 64;
  for (std::size_t Row = 0; Row < Rows; ++Row, P += RowStep)
    for (std::size_t Col = 0; Col < Cols; ++Col) {
      const std::int32_t V = (Base + Rs[Row * Size + Col]) >> 7;
      Wild |= static_cast<std::uint32_t>(V + 512) >= 1024u;
      P[Col * Step] = static_cast<std::uint8_t>(std::clamp(V + 128, 0, 255));
    }
  return !Wild;
}

#if defined(__SSE2__)
// PutSamples for a whole block: the same values, clamped by saturating packs.
template <int Size>
bool PutWholeBlock(std::uint8_t* P, std::ptrdiff_t RowStep, std::size_t Step, std::int32_t DcDeq, const std::int32_t* Rs) {
  const __m128i Base = _mm_set1_epi32(16 * DcDeq + 64), Half = _mm_set1_epi32(512), Mid = _mm_set1_epi32(128);
  constexpr int Vectors = Size * Size / 4;
  __m128i V[4], Wild = _mm_setzero_si128();
  for (int I = 0; I < Vectors; ++I) {
    V[I] = _mm_srai_epi32(_mm_add_epi32(vec::LoadInts(Rs + 4 * I), Base), 7);
    Wild = _mm_or_si128(Wild, _mm_srai_epi32(_mm_add_epi32(V[I], Half), 10));
    V[I] = _mm_add_epi32(V[I], Mid);
  }
  alignas(16) std::uint8_t Bytes[16];
  const __m128i Low = _mm_packs_epi32(V[0], Vectors > 1 ? V[1] : V[0]);
  const __m128i High = Vectors > 2 ? _mm_packs_epi32(V[2], V[3]) : Low;
  _mm_store_si128(reinterpret_cast<__m128i*>(Bytes), _mm_packus_epi16(Low, High));
  for (int Row = 0; Row < Size; ++Row, P += RowStep)
    for (int Col = 0; Col < Size; ++Col) P[static_cast<std::size_t>(Col) * Step] = Bytes[Row * Size + Col];
  return _mm_movemask_epi8(_mm_cmpeq_epi32(Wild, _mm_setzero_si128())) == 0xFFFF;
}
#endif

}  // namespace

bool TSplitDecoder::PutBlock(int Block, std::size_t McuX, std::size_t McuY, std::int32_t Dc, const std::int32_t* Rs) {
  TComponent& Comp = FComp[FBlockComp[Block]];
  const auto Size = static_cast<std::size_t>(Comp.Size);
  // The DC value as the library keeps it in the block: 16 bits.
  const std::int32_t DcDeq = std::int32_t{static_cast<std::int16_t>(static_cast<std::uint16_t>(Dc))} * Comp.Quant[0];
  if (DcDeq <= -4096 || DcDeq >= 4096) return false;
  const std::size_t X = (McuX * static_cast<std::size_t>(Comp.H) + static_cast<std::size_t>(FBlockX[Block])) * Size;
  const std::size_t Y = (McuY * static_cast<std::size_t>(Comp.V) + static_cast<std::size_t>(FBlockY[Block])) * Size;
  if (X >= Comp.LimitX || Y >= Comp.LimitY) return true;
  std::uint8_t* P = Comp.Base + static_cast<std::ptrdiff_t>(Y) * Comp.RowStep + X * Comp.ColStep;
  const std::size_t Rows = std::min(Size, Comp.LimitY - Y), Cols = std::min(Size, Comp.LimitX - X);
  // Whole blocks (nearly all) with the loops' counts known.
#if defined(__SSE2__)
  if (FVector && Size == 4 && Rows == 4 && Cols == 4) return PutWholeBlock<4>(P, Comp.RowStep, Comp.ColStep, DcDeq, Rs);
  if (FVector && Size == 2 && Rows == 2 && Cols == 2) return PutWholeBlock<2>(P, Comp.RowStep, Comp.ColStep, DcDeq, Rs);
#endif
  if (Size == 4)
    return Rows == 4 && Cols == 4 ? PutSamples<4>(P, Comp.RowStep, Comp.ColStep, 4, 4, DcDeq, Rs)
                                  : PutSamples<4>(P, Comp.RowStep, Comp.ColStep, Rows, Cols, DcDeq, Rs);
  if (Size == 2)
    return Rows == 2 && Cols == 2 ? PutSamples<2>(P, Comp.RowStep, Comp.ColStep, 2, 2, DcDeq, Rs)
                                  : PutSamples<2>(P, Comp.RowStep, Comp.ColStep, Rows, Cols, DcDeq, Rs);
  return PutSamples<1>(P, Comp.RowStep, Comp.ColStep, Rows, Cols, DcDeq, Rs);
}

bool TSplitDecoder::DecodeMcu(TBitReader& R, TRunState& St, std::size_t M, bool Write) {
  const std::size_t McuY = M / FMcusPerRow, McuX = M - McuY * FMcusPerRow;
  std::int16_t* Block = FBlock;
  std::int32_t Rs[16];
  for (int B = 0; B < FBlocks; ++B) {
    const int C = FBlockComp[B];
    const TComponent& Comp = FComp[C];
    int Diff;
    const int Count = DecodeBlock(R, *Comp.Dc, *Comp.Ac, Comp.Size > 1, Block, Diff);
    if (Count < 0) return false;
    St.Pred[C] = static_cast<int>(static_cast<std::uint32_t>(St.Pred[C]) + static_cast<std::uint32_t>(Diff));
    const bool Kept = !Write || (ReducedIdct(Comp.Size, Block, Comp.Quant, Comp.MaxQuant, Rs, Count, FVector) &&
                                 PutBlock(B, McuX, McuY, St.Pred[C], Rs));
    if (Count) ClearBlock(Block);
    if (!Kept) return false;
  }
  return true;
}

int TSplitDecoder::KeepMcu(TBitReader& R, std::size_t N) {
  int Result = 0;
  std::int16_t* Block = FBlock2;
  std::int32_t Rs[16];
  std::int16_t* Dc = &FDc2[N * static_cast<std::size_t>(FBlocks)];
  std::int16_t* Kept = &FRs2[N * static_cast<std::size_t>(FRsPerMcu)];
  for (int B = 0; B < FBlocks; ++B) {
    const int C = FBlockComp[B];
    const TComponent& Comp = FComp[C];
    int Diff;
    const int Count = DecodeBlock(R, *Comp.Dc, *Comp.Ac, Comp.Size > 1, Block, Diff);
    if (Count < 0) {
      ClearBlock(Block);
      return -1;
    }
    // A difference has at most 15 bits and a sign.
    Dc[B] = static_cast<std::int16_t>(Diff);
    if (Comp.Size == 1) {
      if (Count) ClearBlock(Block);
      continue;
    }
    const bool Usable = ReducedIdct(Comp.Size, Block, Comp.Quant, Comp.MaxQuant, Rs, Count, FVector);
    if (Count) ClearBlock(Block);
    std::int16_t* K = Kept + FBlockRs[B];
    for (int I = 0; I < Comp.Size * Comp.Size; ++I) {
      const bool Large = !Usable || Rs[I] < -32767 || Rs[I] > 32767;
      K[I] = Large ? Unkept : static_cast<std::int16_t>(Rs[I]);
      Result |= Large;
    }
  }
  return Result;
}

bool TSplitDecoder::PlaceKept(std::size_t N, TRunState& St, std::size_t M) {
  const std::size_t McuY = M / FMcusPerRow, McuX = M - McuY * FMcusPerRow;
  std::int32_t Rs[16] = {};
  const std::int16_t* Dc = &FDc2[N * static_cast<std::size_t>(FBlocks)];
  const std::int16_t* Kept = &FRs2[N * static_cast<std::size_t>(FRsPerMcu)];
  for (int B = 0; B < FBlocks; ++B) {
    const int C = FBlockComp[B];
    if (FComp[C].Size > 1) {
      const std::int16_t* K = Kept + FBlockRs[B];
      for (int I = 0; I < FComp[C].Size * FComp[C].Size; ++I) {
        if (K[I] == Unkept) return false;
        Rs[I] = K[I];
      }
    } else {
      Rs[0] = 0;
    }
    St.Pred[C] = static_cast<int>(static_cast<std::uint32_t>(St.Pred[C]) + static_cast<std::uint32_t>(Dc[B]));
    if (!PutBlock(B, McuX, McuY, St.Pred[C], Rs)) return false;
  }
  return true;
}

void TSplitDecoder::SecondThread(std::size_t From) {
  std::size_t LastRestart = 0, LastUnkept = 0;
  bool AnyUnkept = false;
  try {
    TBitReader R(FData, From, TBitReader::NoMarkOffset);
    std::size_t N = 0;
    bool Restart = true;
    while (N < FCapacity2 && !FStop.load(std::memory_order_relaxed)) {
      FPos2[N] = R.Position();
      FRestart2[N] = Restart;
      const int Kept = KeepMcu(R, N);
      if (Kept < 0) {
        // Out of step: a new run of MCUs starts a bit further on.
        if (R.UsedPadding()) break;
        R.Ensure();
        R.Drop(1);
        Restart = true;
        continue;
      }
      if (R.UsedPadding()) break;
      if (Restart) LastRestart = N;
      if (Kept > 0) {
        LastUnkept = N;
        AnyUnkept = true;
      }
      Restart = false;
      ++N;
      FPublished2.store(N, std::memory_order_release);
    }
    FComplete2 = N;
  } catch (...) {
    // A failed read ends this thread's help; the first thread reads for itself.
    FComplete2 = 0;
  }
  FEnded2.store(true, std::memory_order_release);
  HelpPlace(LastRestart, AnyUnkept ? LastUnkept : FCapacity2);
}

bool TSplitDecoder::PlaceRow(std::size_t Row, TRunState& St, bool Wait) {
  const std::size_t First = std::max(Row * FMcusPerRow, FSyncM), End = (Row + 1) * FMcusPerRow;
  for (std::size_t Mcu = First; Mcu < End; ++Mcu) {
    const std::size_t N = FSyncMatched + (Mcu - FSyncM);
    if (Wait)
      while (FPublished2.load(std::memory_order_acquire) <= N) {
        if (FEnded2.load(std::memory_order_acquire) && FPublished2.load(std::memory_order_acquire) <= N) return false;
        std::this_thread::yield();
      }
    if ((N > FSyncMatched && FRestart2[N]) || !PlaceKept(N, St, Mcu)) return false;
  }
  return true;
}

void TSplitDecoder::HelpPlace(std::size_t LastRestart, std::size_t LastUnkept) {
  if (!FInPlace || FComplete2 == 0) return;
  int State;
  while ((State = FSyncState.load(std::memory_order_acquire)) == 0 && !FStop.load(std::memory_order_relaxed))
    std::this_thread::yield();
  if (State != 1) return;
  // Only MCUs that the first thread would place without failing: all there,
  // no new run after the match, every output kept.
  const std::size_t Needed = FMcus - FSyncM;
  if (FComplete2 < FSyncMatched + Needed || LastRestart > FSyncMatched ||
      (LastUnkept != FCapacity2 && LastUnkept >= FSyncMatched))
    return;
  // The DC predictions at the start of each MCU row, from the match on.
  const std::size_t FirstRow = FSyncM / FMcusPerRow;
  std::vector<TRunState> RowStart(FMcuRows - FirstRow);
  TRunState Pred = FSyncPreds;
  RowStart[0] = Pred;
  for (std::size_t Mcu = FSyncM; Mcu < FMcus; ++Mcu) {
    if (Mcu % FMcusPerRow == 0) RowStart[Mcu / FMcusPerRow - FirstRow] = Pred;
    const std::int16_t* Dc = &FDc2[(FSyncMatched + (Mcu - FSyncM)) * static_cast<std::size_t>(FBlocks)];
    for (int B = 0; B < FBlocks; ++B)
      Pred.Pred[FBlockComp[B]] = static_cast<int>(static_cast<std::uint32_t>(Pred.Pred[FBlockComp[B]]) +
                                                  static_cast<std::uint32_t>(Dc[B]));
  }
  while (!FStop.load(std::memory_order_relaxed)) {
    // Claims the lowest row left unclaimed.
    std::uint64_t Claims = FClaims.load(std::memory_order_acquire);
    std::uint64_t Front, Back;
    do {
      Front = Claims >> 32;
      Back = Claims & 0xFFFFFFFFu;
      if (Front >= Back) return;
    } while (!FClaims.compare_exchange_weak(Claims, Front << 32 | (Back - 1), std::memory_order_acq_rel));
    const std::size_t Row = Back - 1;
    TRunState St = RowStart[Row - FirstRow];
    // A block the library is left to decode: the whole picture goes to it.
    if (!PlaceRow(Row, St, false)) {
      FHelpFailed.store(true, std::memory_order_release);
      return;
    }
    const auto Top = static_cast<std::uint32_t>(std::min<std::size_t>(FInfo.output_height, Row * FRowsPerMcuRow));
    const auto Bottom = static_cast<std::uint32_t>(std::min<std::size_t>(FInfo.output_height, (Row + 1) * FRowsPerMcuRow));
    ConvertRows(Top, Bottom, FFirst, FStride);
    FBackRowsFrom = Top;
  }
}

// Upsamples the chroma of output rows [From, To) and converts them to blue,
// green, red exactly as the library does.
void TSplitDecoder::ConvertRows(std::uint32_t From, std::uint32_t To, std::uint8_t* First, std::ptrdiff_t Stride) {
  static const struct TTables {
    int CrR[256], CbB[256], CrG[256], CbG[256];
    TTables() {
      constexpr std::int64_t Half = 1 << 15;
      const auto Fix = [](double X) { return static_cast<std::int64_t>(X * 65536 + 0.5); };
      for (int I = 0; I < 256; ++I) {
        const std::int64_t X = I - 128;
        CrR[I] = static_cast<int>((Fix(1.40200) * X + Half) >> 16);
        CbB[I] = static_cast<int>((Fix(1.77200) * X + Half) >> 16);
        CrG[I] = static_cast<int>(-Fix(0.71414) * X);
        CbG[I] = static_cast<int>(-Fix(0.34414) * X + Half);
      }
    }
  } T;
  const std::uint32_t W = FInfo.output_width;
  const TComponent& Y = FComp[0];
  std::vector<std::uint8_t> Up[2];
  for (auto& U : Up) U.resize(static_cast<std::size_t>(W) + 2);
  for (std::uint32_t Row = From; Row < To; ++Row) {
    std::uint8_t* Out = First + static_cast<std::ptrdiff_t>(Row) * Stride;
    const std::uint8_t* YRow = Y.Base + static_cast<std::ptrdiff_t>(Row) * Y.RowStep;
    const std::uint8_t* Chroma[2];
    std::size_t Step[2];
    for (int C = 0; C < 2; ++C) {
      const TComponent& Comp = FComp[C + 1];
      const bool TwoRows = Comp.Up == upH2V2 || Comp.Up == upH2V2Fancy;
      const std::uint32_t CRow = TwoRows ? Row >> 1 : Row;
      const std::uint8_t* Near = Comp.Base + static_cast<std::ptrdiff_t>(CRow) * Comp.RowStep;
      Step[C] = Comp.ColStep;
      if (Comp.Up == upNone) {
        Chroma[C] = Near;
        continue;
      }
      Step[C] = 1;
      std::uint8_t* U = Up[C].data();
      const std::uint32_t Cw = Comp.Width;
      if (Comp.Up == upH2V2Fancy) {
        // Triangle filter in both directions: three quarters of the nearer
        // sample, a quarter of the other, at the edges the sample itself.
        const std::uint32_t FarRow = (Row & 1) ? std::min(CRow + 1, Comp.Height - 1) : (CRow == 0 ? 0 : CRow - 1);
        const std::uint8_t* Far = Comp.Base + static_cast<std::ptrdiff_t>(FarRow) * Comp.RowStep;
        int This = Near[0] * 3 + Far[0], Next = Near[1] * 3 + Far[1];
        U[0] = static_cast<std::uint8_t>((This * 4 + 8) >> 4);
        U[1] = static_cast<std::uint8_t>((This * 3 + Next + 7) >> 4);
        int Last = This;
        This = Next;
        for (std::uint32_t X = 1; X + 1 < Cw; ++X) {
          Next = Near[X + 1] * 3 + Far[X + 1];
          U[2 * X] = static_cast<std::uint8_t>((This * 3 + Last + 8) >> 4);
          U[2 * X + 1] = static_cast<std::uint8_t>((This * 3 + Next + 7) >> 4);
          Last = This;
          This = Next;
        }
        U[2 * (Cw - 1)] = static_cast<std::uint8_t>((This * 3 + Last + 8) >> 4);
        U[2 * (Cw - 1) + 1] = static_cast<std::uint8_t>((This * 4 + 7) >> 4);
      } else if (Comp.Up == upH2V1Fancy) {
        U[0] = Near[0];
        U[1] = static_cast<std::uint8_t>((Near[0] * 3 + Near[1] + 2) >> 2);
        for (std::uint32_t X = 1; X + 1 < Cw; ++X) {
          const int In = Near[X] * 3;
          U[2 * X] = static_cast<std::uint8_t>((In + Near[X - 1] + 1) >> 2);
          U[2 * X + 1] = static_cast<std::uint8_t>((In + Near[X + 1] + 2) >> 2);
        }
        U[2 * (Cw - 1)] = static_cast<std::uint8_t>((Near[Cw - 1] * 3 + Near[Cw - 2] + 1) >> 2);
        U[2 * (Cw - 1) + 1] = Near[Cw - 1];
      } else {
        for (std::uint32_t X = 0; X < Cw; ++X) U[2 * X] = U[2 * X + 1] = Near[X];
      }
      Chroma[C] = U;
    }
    // Each pixel's samples are read before its colour is written over them.
    const std::uint8_t* Cb = Chroma[0];
    const std::uint8_t* Cr = Chroma[1];
    const std::size_t Sb = Step[0], Sr = Step[1];
    for (std::uint32_t X = 0; X < W; ++X) {
      const int L = YRow[3 * X], B = Cb[X * Sb], R = Cr[X * Sr];
      Out[3 * X] = static_cast<std::uint8_t>(std::clamp(L + T.CbB[B], 0, 255));
      Out[3 * X + 1] = static_cast<std::uint8_t>(std::clamp(L + ((T.CbG[B] + T.CrG[R]) >> 16), 0, 255));
      Out[3 * X + 2] = static_cast<std::uint8_t>(std::clamp(L + T.CrR[R], 0, 255));
    }
  }
}

bool TSplitDecoder::Decode(std::uint8_t* First, std::ptrdiff_t Stride, const TJpegRowsDone& RowsDone) {
  LastTakenFromSecond.store(0, std::memory_order_relaxed);
  FFirst = First;
  FStride = Stride;
  FBackRowsFrom = FInfo.output_height;
  FInPlace = FComp[1].Up == upNone && FComp[2].Up == upNone;
  for (int K = 0; K < 3; ++K) {
    TComponent& C = FComp[K];
    if (C.Up == upNone) {
      C.Base = First + K;
      C.RowStep = Stride;
      C.ColStep = 3;
      C.LimitX = FInfo.output_width;
      C.LimitY = FInfo.output_height;
    } else {
      C.LimitX = FMcusPerRow * static_cast<std::size_t>(C.H * C.Size);
      C.LimitY = FMcuRows * static_cast<std::size_t>(C.V * C.Size);
      C.Plane.resize(C.LimitX * C.LimitY);
      C.Base = C.Plane.data();
      C.RowStep = static_cast<std::ptrdiff_t>(C.LimitX);
      C.ColStep = 1;
    }
  }
  const double At = JpegSplitSettings().SplitAt;
  const std::size_t Bytes = FData.End > FData.Begin ? FData.End - FData.Begin : 0;
  std::thread Second;
  struct TJoin {
    std::thread& T;
    std::atomic<bool>& Stop;
    ~TJoin() {
      Stop.store(true, std::memory_order_relaxed);
      if (T.joinable()) T.join();
    }
  } Join{Second, FStop};

  std::size_t Mark = TBitReader::NoMarkOffset;
  if (At > 0 && At < 1 && FMcus >= JpegSplitSettings().MinMcus) {
    // The second thread starts at a byte that begins a byte of data: not the
    // zero byte stuffed after a 0xFF.
    std::size_t P = FData.Begin + static_cast<std::size_t>(static_cast<double>(Bytes) * At);
    std::uint8_t Before = 0xFF;
    for (int Tries = 0; Tries < 64 && Before == 0xFF && P < FData.End; ++Tries, ++P) {
      if (FData.Memory.data())
        Before = P - 1 < FData.Memory.size() ? FData.Memory[P - 1] : 0xFF;
      else if (FData.File->Read(P - 1, &Before, 1) != 1)
        break;
      if (Before != 0xFF) break;
    }
    if (Before != 0xFF && P < FData.End) {
      Mark = P;
      FCapacity2 = FMcus;
      FPos2.reset(new std::uint64_t[FCapacity2]);
      FRestart2.reset(new bool[FCapacity2]);
      FDc2.reset(new std::int16_t[FCapacity2 * static_cast<std::size_t>(FBlocks)]);
      FRs2.reset(new std::int16_t[FCapacity2 * static_cast<std::size_t>(FRsPerMcu)]);
      Second = std::thread([this, P] { SecondThread(P); });
    }
  }

  TBitReader R(FData, FData.Begin, Mark);
  TRunState St;
  std::size_t Matched = 0;  // the second thread's MCU at the match
  std::size_t M = 0;
  bool Synced = false;
  std::uint32_t RowsConverted = 0;
  const std::uint32_t Height = FInfo.output_height;
  // Rows are converted and reported every few MCU rows; a row needs the
  // chroma row below it, so the last MCU row decoded waits.
  const std::size_t ReportEvery = std::max<std::size_t>(1, 16 / static_cast<std::size_t>(FRowsPerMcuRow) + 1);
  // Converts and reports rows once MCU Done completes an MCU row. Rows
  // whose chroma is upsampled wait for the MCU row below.
  const std::size_t Lag = FInPlace ? 0 : 1;
  // Rows are reported until the second thread may write rows of its own: a
  // handler that looks at the whole output then would read them as they are
  // written. The last report, after it has ended, covers them all.
  bool Reporting = true;
  const auto McuDone = [&](std::size_t Done) {
    if ((Done + 1) % FMcusPerRow != 0) return;
    const std::size_t McuRow = (Done + 1) / FMcusPerRow;
    if (McuRow % ReportEvery != 0) return;
    const auto Rows = static_cast<std::uint32_t>(std::min<std::size_t>(Height, (McuRow - Lag) * FRowsPerMcuRow));
    if (Rows <= RowsConverted) return;
    ConvertRows(RowsConverted, Rows, First, Stride);
    RowsConverted = Rows;
    if (Reporting) RowsDone(Rows);
  };
  for (; M < FMcus; ++M) {
    if (Second.joinable() && R.PassedMark()) {
      const std::uint64_t Pos = R.Position();
      if (Pos >= R.LoadedAtMark()) {
        const std::uint64_t Rel = Pos - R.LoadedAtMark();
        std::size_t Published = FPublished2.load(std::memory_order_acquire);
        if (JpegSplitSettings().WaitForSecond)
          while ((Published == 0 || FPos2[Published - 1] < Rel) && !FEnded2.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            Published = FPublished2.load(std::memory_order_acquire);
          }
        while (Matched < Published && FPos2[Matched] < Rel) ++Matched;
        if (Matched < Published && FPos2[Matched] == Rel) {
          Synced = true;
          break;
        }
      }
    }
    if (!DecodeMcu(R, St, M)) return false;
    // Data that ends early is the library's to handle.
    if ((M + 1) % FMcusPerRow == 0 && R.UsedPadding()) return false;
    McuDone(M);
  }
  if (Synced) {
    // The second thread's MCUs from the match on are this picture's MCUs from
    // M on. This thread places them row by row from the top as they come,
    // the second from the bottom up once it has decoded them all.
    FSyncMatched = Matched;
    FSyncM = M;
    FSyncPreds = St;
    FClaims.store(std::uint64_t{M / FMcusPerRow} << 32 | FMcuRows, std::memory_order_release);
    Reporting = !FInPlace;
    FSyncState.store(1, std::memory_order_release);
    // The DC predictions go on from this thread's; the placed MCUs must
    // follow the matched one without a new run (data damaged past the match).
    TRunState Placing = St;
    std::size_t Placed = 0;
    bool Failed = false;
    if (JpegSplitSettings().LeaveRowsToSecond) Second.join();
    for (;;) {
      std::uint64_t Claims = FClaims.load(std::memory_order_acquire);
      std::uint64_t Front, Back;
      do {
        Front = Claims >> 32;
        Back = Claims & 0xFFFFFFFFu;
      } while (Front < Back &&
               !FClaims.compare_exchange_weak(Claims, (Front + 1) << 32 | Back, std::memory_order_acq_rel));
      if (Front >= Back) break;
      if (!PlaceRow(Front, Placing, true)) {
        Failed = true;
        break;
      }
      Placed = (Front + 1) * FMcusPerRow - M;
      McuDone((Front + 1) * FMcusPerRow - 1);
    }
    if (!Failed) {
      // The second thread places and converts its rows before it ends.
      if (Second.joinable()) Second.join();
      if (FHelpFailed.load(std::memory_order_acquire)) return false;
      LastTakenFromSecond.store(FMcus - FSyncM, std::memory_order_relaxed);
    } else {
      // The second thread's blocks cannot serve from here (it finds the same
      // and leaves them): this thread reads on from the match, past the MCUs
      // already placed, and decodes the rest.
      for (std::size_t K = 0; K < Placed; ++K, ++M)
        if (!DecodeMcu(R, St, M, false)) return false;
      for (; M < FMcus; ++M) {
        if (!DecodeMcu(R, St, M)) return false;
        McuDone(M);
      }
      if (R.UsedPadding()) return false;
    }
  } else {
    FSyncState.store(2, std::memory_order_release);
    if (R.UsedPadding()) return false;
  }
  FStop.store(true);
  if (Second.joinable()) Second.join();
  ConvertRows(RowsConverted, std::min(Height, FBackRowsFrom), First, Stride);
  if (RowsConverted < Height || !Reporting) RowsDone(Height);
  return true;
}

}  // namespace

bool JpegSplitSuits(const jpeg_decompress_struct& Info) {
  TSplitDecoder D(Info, TJpegScanData{});
  return JpegSplitSettings().Enabled && D.SetUp();
}

bool JpegSplitDecode(const jpeg_decompress_struct& Info, const TJpegScanData& Data, std::uint8_t* First,
                     std::ptrdiff_t Stride, const TJpegRowsDone& RowsDone) {
  TSplitDecoder D(Info, Data);
  if (!D.SetUp()) return false;
  return D.Decode(First, Stride, RowsDone);
}
