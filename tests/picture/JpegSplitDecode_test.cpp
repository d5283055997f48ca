// The two-thread reduced JPEG decode against the library's own reduced decode:
// the same bytes for every sampling, size and split point, and giving up
// (never a wrong picture) on files it does not take.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "picture/jpeg/Jpeg.h"
#include "picture/jpeg/JpegBytes_p.h"
#include "picture/jpeg/JpegDecoder_p.h"
#include "picture/jpeg/JpegSplitDecode_p.h"
#include "support/JpegFiles.h"
#include "support/JpegSplit.h"

namespace {

// Settings for one test, restored after it.
class TSplitSettings {
 public:
  TSplitSettings(double At, std::size_t MinMcus, bool Vector = true) : FSaved(JpegSplitSettings()) {
    JpegSplitSettings() = {true, At, MinMcus, true, Vector};
  }
  ~TSplitSettings() { JpegSplitSettings() = FSaved; }

 private:
  TJpegSplitSettings FSaved;
};

TSplitResult SplitDecode(const std::vector<std::uint8_t>& File, int Denom) {
  return SplitDecode(TJpegBytes(std::vector<std::uint8_t>(File)), Denom);
}

struct TCase {
  int Width, Height, HSamp, VSamp, Quality;
  bool Noise;
  // Chroma sampled finer than luma: luma and Cb 1 x 1, Cr 2 x 2.
  bool FinerChroma = false;
};

}  // namespace

TEST(JpegSplitDecode, GivesTheLibrarysPixelsForEverySamplingSizeAndSplit) {
  const TCase Cases[] = {
      {517, 389, 2, 2, 92, true},  {640, 480, 2, 2, 75, false}, {333, 250, 2, 1, 90, true},
      {301, 199, 1, 1, 95, true},  {1024, 768, 2, 2, 100, true}, {37, 29, 2, 2, 90, true},
      {9, 7, 2, 2, 50, false},     {700, 20, 2, 1, 85, true},    {18, 600, 2, 2, 88, true},
      {512, 384, 1, 1, 90, true, true},
  };
  for (const TCase& C : Cases) {
    TJpegFileOptions O{C.Width, C.Height};
    O.HSamp = C.HSamp;
    O.VSamp = C.VSamp;
    O.Quality = C.Quality;
    O.Noise = C.Noise;
    TJpegCoefficientLayout Finer;
    Finer.Samp[0][0] = Finer.Samp[0][1] = 1;
    Finer.Samp[2][0] = Finer.Samp[2][1] = 2;
    const auto File = C.FinerChroma ? WriteJpegCoefficients(MakeJpeg(O), Finer) : MakeJpeg(O);
    for (int Denom : {4, 8}) {
      const TPlainImage Expected = LibraryDecode(File, Denom);
      ASSERT_FALSE(Expected.Failed);
      for (double At : {0.0, 0.5, 0.13, 0.77}) {
        // The plain transforms as well as the vector ones, on one split point.
        const bool Vector = At != 0.13;
        TSplitSettings S(At, 0, Vector);
        const TSplitResult Got = SplitDecode(File, Denom);
        SCOPED_TRACE(std::to_string(C.Width) + "x" + std::to_string(C.Height) + " sampling " + std::to_string(C.HSamp) +
                     "x" + std::to_string(C.VSamp) + " 1/" + std::to_string(Denom) + " split at " + std::to_string(At) +
                     (Vector ? "" : " plain"));
        ASSERT_TRUE(Got.Done);
        EXPECT_EQ(Difference(Got, Expected), "");
        // The second thread's MCUs were used (a split that never finds its
        // place would still give the right pixels, decoded on one thread).
        if (At > 0 && C.Width * C.Height >= 300 * 300) {
          EXPECT_GT(JpegSplitLastTakenFromSecond(), 0u);
        }
        ASSERT_FALSE(Got.Reports.empty());
        EXPECT_EQ(Got.Reports.back(), static_cast<std::uint32_t>(Expected.Height));
        for (std::size_t K = 1; K < Got.Reports.size(); ++K) EXPECT_GT(Got.Reports[K], Got.Reports[K - 1]);
      }
    }
  }
}

TEST(JpegSplitDecode, ReadsAFileAPieceAtATime) {
  TJpegFileOptions O{1600, 1200};
  O.Noise = true;
  const auto File = MakeJpeg(O);
  const std::string Name = ::testing::TempDir() + "/split_pieces.jpg";
  {
    std::FILE* F = std::fopen(Name.c_str(), "wb");
    ASSERT_TRUE(F);
    ASSERT_EQ(std::fwrite(File.data(), 1, File.size(), F), File.size());
    std::fclose(F);
  }
  const std::size_t Saved = JpegReadWholeUpTo();
  JpegReadWholeUpTo() = 0;
  const auto Bytes = TJpegBytes::Open(Name, 4096);
  JpegReadWholeUpTo() = Saved;
  ASSERT_FALSE(Bytes->Complete());
  TSplitSettings S(0.5, 0);
  const TSplitResult Got = SplitDecode(*Bytes, 4);
  std::remove(Name.c_str());
  ASSERT_TRUE(Got.Done);
  EXPECT_GT(JpegSplitLastTakenFromSecond(), 0u);
  EXPECT_EQ(Difference(Got, LibraryDecode(File, 4)), "");
}

TEST(JpegSplitDecode, LeavesToTheLibraryWhatItDoesNotTake) {
  TSplitSettings S(0.5, 0);
  const auto Refused = [](TJpegFileOptions O, int Denom) {
    O.Width = 200;
    O.Height = 150;
    TJpegDecoder D;
    const auto File = MakeJpeg(O);
    D.Open(std::span<const std::uint8_t>(File));
    D.Info().scale_num = 1;
    D.Info().scale_denom = static_cast<unsigned>(Denom);
    D.Info().out_color_space = D.Info().jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
    D.CalcOutputDimensions();
    return !JpegSplitSuits(D.Info());
  };
  TJpegFileOptions Plain;
  EXPECT_FALSE(Refused(Plain, 4));
  EXPECT_TRUE(Refused(Plain, 2));
  EXPECT_TRUE(Refused(Plain, 1));
  {
    // More kept by the second thread than a draft may cost beyond its own
    // memory (the 1/8 draft of a 65,500 x 65,500 picture would keep 310 MB).
    TSplitSettings Small(0.5, 0);
    JpegSplitSettings().MaxKept = 1000;
    EXPECT_TRUE(Refused(Plain, 4));
    EXPECT_TRUE(Refused(Plain, 8));
  }
  EXPECT_FALSE(Refused(Plain, 8));
  TJpegFileOptions P;
  P.Progressive = true;
  EXPECT_TRUE(Refused(P, 4));
  TJpegFileOptions R;
  R.RestartRows = 1;
  EXPECT_TRUE(Refused(R, 4));
  TJpegFileOptions G;
  G.Gray = true;
  EXPECT_TRUE(Refused(G, 4));
  TJpegFileOptions A;
  A.Arithmetic = true;
  EXPECT_TRUE(Refused(A, 4));
  TJpegFileOptions K;
  K.Cmyk = true;
  EXPECT_TRUE(Refused(K, 4));
}

TEST(JpegSplitDecode, GivesUpOnDamagedOrShortData) {
  TJpegFileOptions O{800, 600};
  O.Noise = true;
  const auto File = MakeJpeg(O);
  TSplitSettings S(0.5, 0);
  // Cut short, in the first and in the second half of the data.
  for (double Keep : {0.3, 0.8, 0.999}) {
    std::vector<std::uint8_t> Short(File.begin(), File.begin() + static_cast<std::ptrdiff_t>(File.size() * Keep));
    EXPECT_FALSE(SplitDecode(Short, 4).Done) << Keep;
  }
  // A marker in the middle of the data.
  std::vector<std::uint8_t> Marked = File;
  Marked[Marked.size() / 2] = 0xFF;
  Marked[Marked.size() / 2 + 1] = 0xD3;
  EXPECT_FALSE(SplitDecode(Marked, 4).Done);
  // A fill byte before a stuffed 0xFF, which the library takes as a marker
  // or skips, depending on how its input is buffered.
  std::vector<std::uint8_t> Filled = File;
  const std::uint8_t Stuffing[] = {0xFF, 0x00};
  const auto Stuffed = std::search(Filled.begin() + static_cast<std::ptrdiff_t>(File.size() / 2), Filled.end(),
                                   std::begin(Stuffing), std::end(Stuffing));
  ASSERT_NE(Stuffed, Filled.end());
  Filled.insert(Stuffed, 0xFF);
  EXPECT_FALSE(SplitDecode(Filled, 4).Done);
  // Flipped bits give either the library's pixels or a refusal, never others.
  for (std::size_t At : {File.size() / 5, File.size() / 2, File.size() * 9 / 10}) {
    std::vector<std::uint8_t> Bad = File;
    Bad[At] ^= 0x5A;
    const TSplitResult Got = SplitDecode(Bad, 4);
    if (Got.Done) {
      EXPECT_EQ(Difference(Got, LibraryDecode(Bad, 4)), "") << At;
    }
  }
}

TEST(JpegSplitDecode, LeavesToTheLibraryCoefficientsNoPictureGives) {
  // Quantisers raised under coefficients coded for small ones. At 255 the
  // dequantized values are far beyond any an 8-bit picture gives, where the
  // library's vector and plain transforms disagree: either thread meeting one
  // gives up. Smaller ones bring blocks near the bounds of what is taken: each
  // decode gives the library's pixels or gives up.
  TJpegFileOptions O{640, 480};
  O.Noise = true;
  O.Quality = 98;
  const std::vector<std::uint8_t> Original = MakeJpeg(O);
  struct TWild {
    std::string Name;
    std::vector<std::uint8_t> File;
    bool Refused;
  };
  std::vector<TWild> Files;
  // One luma block of the last MCU row whose DC value (282 x 16) is beyond
  // any 8-bit picture's, in a file whose rows the second thread places too.
  O.Quality = 50;
  TJpegCoefficientLayout Full;
  Full.Samp[0][0] = Full.Samp[0][1] = 1;
  Files.push_back({"wild DC", WriteJpegCoefficients(MakeJpeg(O), Full, [](const TJpegBlock& B) {
                     if (B.Component == 0 && B.X == 40 && B.Y == 59) B.Coef[0] = 282;
                   }), true});
  for (const int Quantiser : {255, 8, 4}) {
    std::vector<std::uint8_t> File = Original;
    bool Patched = false;
    for (std::size_t I = 2; I + 4 < File.size() && !(File[I] == 0xFF && File[I + 1] == 0xDA);) {
      if (File[I] != 0xFF) break;
      const std::size_t Length = std::size_t{File[I + 2]} << 8 | File[I + 3];
      if (File[I + 1] == 0xDB)
        for (std::size_t T = I + 4; T + 65 <= I + 2 + Length; T += 65)
          if ((File[T] >> 4) == 0) {
            std::fill(File.begin() + static_cast<std::ptrdiff_t>(T + 1), File.begin() + static_cast<std::ptrdiff_t>(T + 65),
                      static_cast<std::uint8_t>(Quantiser));
            Patched = true;
          }
      I += 2 + Length;
    }
    ASSERT_TRUE(Patched);
    Files.push_back({std::to_string(Quantiser), File, Quantiser == 255});
  }
  for (const TWild& W : Files)
    for (int Denom : {4, 8})
      for (double At : {0.0, 0.5, 0.3})
        for (bool Vector : {true, false}) {
          // At 0.3 the second thread places every row after the match.
          TSplitSettings S(At, 0, Vector);
          JpegSplitSettings().LeaveRowsToSecond = At == 0.3;
          const TSplitResult Got = SplitDecode(W.File, Denom);
          SCOPED_TRACE(W.Name + " 1/" + std::to_string(Denom) + " at " + std::to_string(At) + (Vector ? "" : " plain"));
          if (W.Refused) {
            EXPECT_FALSE(Got.Done);
          }
          if (Got.Done) {
            EXPECT_EQ(Difference(Got, LibraryDecode(W.File, Denom)), "");
          }
        }
}


TEST(JpegSplitDecode, GivesTheLibrarysPixelsWhereTheDataRepeatsEveryMcu) {
  // One colour, and one colour with a stripe every 16 rows: the coded data
  // repeats with a short period, where the second thread may fall into step
  // at a wrong place in the period, or never; the pixels are right either way.
  for (const int Stripe : {0, 1}) {
    TJpegEncoding E;
    E.Width = 1024;
    E.Height = 768;
    E.Quality = 90;
    const auto File = CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
      for (int X = 0; X < E.Width * 3; ++X) Row[X] = static_cast<JSAMPLE>(Stripe && Y % 16 == 3 ? 30 : 140 + X % 3 * 20);
    });
    for (int Denom : {4, 8}) {
      TSplitSettings S(0.5, 0);
      const TSplitResult Got = SplitDecode(File, Denom);
      ASSERT_TRUE(Got.Done) << Stripe << " " << Denom;
      EXPECT_EQ(Difference(Got, LibraryDecode(File, Denom)), "") << Stripe << " " << Denom;
    }
  }
}
