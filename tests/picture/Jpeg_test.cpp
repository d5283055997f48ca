#include "picture/Jpeg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "picture/FileFormats.h"
#include "support/JpegFiles.h"

namespace {

struct TProgressRecord {
  TProgressStage Stage;
  int Percent;
  bool RedrawNow;
  TRect R;
  std::uint64_t Time;
};

class JpegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedDisplay = DisplayInfo();
    FSavedDefaults = DefaultJpegSettings();
    DisplayInfo().BitsPerPixel = 32;
    DefaultJpegSettings() = TJPEGDefaults{};
  }
  void TearDown() override {
    DisplayInfo() = FSavedDisplay;
    DefaultJpegSettings() = FSavedDefaults;
  }

  static std::unique_ptr<TJPEGImage> Load(const std::vector<std::uint8_t>& Bytes) {
    auto J = std::make_unique<TJPEGImage>();
    auto S = TMemoryStream::Over(Bytes);
    J->LoadFromStream(*S);
    return J;
  }
  static void Draw(TJPEGImage& J) {
    TBitmap Target(2, 2);
    J.DrawInto(Target.Canvas(), Rect(0, 0, 2, 2));
  }
  // Records the notifications of J with a fake clock that advances by Step per reading.
  void Record(TJPEGImage& J, std::uint64_t Step) {
    J.SetTickSource([this, Step] { return FClock += Step; });
    J.OnProgress = [this](TObject*, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                          const std::string&) { FEvents.push_back({Stage, Percent, Redraw, R, FClock}); };
  }

  std::uint64_t FClock = 1000;
  std::vector<TProgressRecord> FEvents;

 private:
  TDisplayInfo FSavedDisplay;
  TJPEGDefaults FSavedDefaults;
};

template <class F>
std::string ErrorOf(F&& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

// Pixels of B (rows below Rows are not compared) that differ from the plain decode.
int Mismatches(const TBitmap& B, const TPlainImage& P, int Rows = -1) {
  if (B.Width() != P.Width || B.Height() != P.Height) return -1;
  int N = 0;
  for (int Y = 0; Y < (Rows < 0 ? P.Height : Rows); ++Y)
    for (int X = 0; X < P.Width; ++X) N += (B.View().PixelAt(X, Y) & 0xFFFFFF) != P.ColorAt(X, Y);
  return N;
}

// Copies Bytes with the marker FF D8 (a second start of image) put into the
// entropy-coded data of the last scan, at the given fraction of it.
std::vector<std::uint8_t> WithSecondStartMarker(std::vector<std::uint8_t> Bytes, double Fraction) {
  std::size_t Sos = 0;
  for (std::size_t I = 0; I + 1 < Bytes.size(); ++I)
    if (Bytes[I] == 0xFF && Bytes[I + 1] == 0xDA) Sos = I;
  const std::size_t Data = Sos + 2 + (Bytes[Sos + 2] << 8 | Bytes[Sos + 3]);
  const auto At = static_cast<std::ptrdiff_t>(Data + (Bytes.size() - 2 - Data) * Fraction);
  Bytes.insert(Bytes.begin() + At, {0xFF, 0xD8});
  return Bytes;
}

void QuantizeAsTheGraphicDoes(jpeg_decompress_struct& D) {
  D.quantize_colors = TRUE;
  D.desired_number_of_colors = 236;
}

TEST_F(JpegTest, DecodesThePixelsOfThePlainDecode) {
  struct TCase {
    const char* Name;
    TJpegFileSpec Spec;
    int Bpp;
  } Cases[] = {
      {"baseline 4:2:0", {64, 48}, 24},
      {"4:4:4, size not a whole number of blocks", {37, 21, false, 1, 1}, 24},
      {"4:2:2, odd size", {33, 17, false, 2, 1}, 24},
      {"progressive", {64, 48, false, 2, 2, true}, 24},
      {"restart interval every row", {64, 48, false, 2, 2, false, 1}, 24},
      {"grayscale: 236 levels", {40, 30, true}, 8},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const auto Bytes = MakeJpeg(C.Spec);
    auto J = Load(Bytes);
    EXPECT_EQ(J->Width(), C.Spec.Width);
    EXPECT_EQ(J->Height(), C.Spec.Height);
    EXPECT_EQ(J->Grayscale(), C.Spec.Gray);
    EXPECT_EQ(J->Progressive(), C.Spec.Progressive);
    J->SetPaletteModified(false);
    Draw(*J);
    ASSERT_EQ(J->Bitmap()->BitsPerPixel(), C.Bpp);
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes, C.Spec.Gray ? QuantizeAsTheGraphicDoes : nullptr)), 0);
    // Only the quantised gray output builds a palette.
    EXPECT_EQ(J->PaletteModified(), C.Bpp == 8);
    EXPECT_EQ(J->Palette() != nullptr, C.Bpp == 8);
  }
}

TEST_F(JpegTest, ReportsTheDecodersOutputSizeAtEachScale) {
  // Each size is the full size divided by the scale, rounded up.
  struct TCase {
    TJPEGScale Scale;
    int W, H;
  } Cases[] = {{jsFullSize, 101, 67}, {jsHalf, 51, 34}, {jsQuarter, 26, 17}, {jsEighth, 13, 9}};
  const auto Bytes = MakeJpeg({101, 67});
  for (const TCase& C : Cases) {
    auto J = Load(Bytes);
    J->SetScale(C.Scale);
    EXPECT_EQ(J->Width(), C.W);
    EXPECT_EQ(J->Height(), C.H);
    Draw(*J);
    EXPECT_EQ(J->Bitmap()->Width(), C.W);
    EXPECT_EQ(J->Bitmap()->Height(), C.H);
  }
  // A scale written after the decode takes effect at the next drawing.
  auto J = Load(Bytes);
  Draw(*J);
  J->SetScale(jsQuarter);
  EXPECT_FALSE(J->Decoded());
  EXPECT_EQ(J->Width(), 26);
}

TEST_F(JpegTest, FileThatIsNotAJpegFailsAtLoadAndLeavesTheGraphic) {
  auto J = Load(MakeJpeg({64, 48}));
  const std::vector<std::uint8_t> Png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
  EXPECT_EQ(ErrorOf([&] {
              auto S = TMemoryStream::Over(Png);
              J->LoadFromStream(*S);
            }),
            "JPEG error #53");
  EXPECT_EQ(J->Width(), 64);
  EXPECT_NO_THROW(Draw(*J));
  EXPECT_EQ(J->Bitmap()->Width(), 64);
}

TEST_F(JpegTest, ZeroLengthFileFailsAtItsFirstDrawingOnly) {
  auto J = Load({});
  EXPECT_FALSE(J->Empty());
  EXPECT_EQ(J->Width(), 0);
  EXPECT_EQ(J->Height(), 0);
  Record(*J, 0);
  EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "JPEG error #42");
  EXPECT_TRUE(FEvents.empty());  // the failure comes before the decode starts
  EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "");
}

TEST_F(JpegTest, TruncatedFileDrawsWithTheMissingPartFilledIn) {
  auto Bytes = MakeJpeg({64, 48});
  Bytes.resize(Bytes.size() * 3 / 5);
  auto J = Load(Bytes);
  EXPECT_NO_THROW(Draw(*J));
  EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes)), 0);
}

TEST_F(JpegTest, CorruptFileFailsOnceThenDrawsWhatWasDecoded) {
  const auto Good = MakeJpeg({64, 48});
  auto J = Load(WithSecondStartMarker(Good, 0.7));
  EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "JPEG error #61");
  EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "");
  EXPECT_EQ(J->Width(), J->Bitmap()->Width());
  EXPECT_EQ(J->Bitmap()->Height(), 48);
  EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Good), 16), 0);  // the rows before the damage
}

TEST_F(JpegTest, QuickDecodeReportsOnlyStartAndEnd) {
  const auto Good = MakeJpeg({64, 48});
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    int EndPercent;
  } Cases[] = {{"decoded", Good, 100}, {"failed", WithSecondStartMarker(Good, 0.7), 0}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    FEvents.clear();
    auto J = Load(C.Bytes);
    J->SetPaletteModified(false);
    Record(*J, 0);
    ErrorOf([&] { Draw(*J); });
    ASSERT_EQ(FEvents.size(), 2u);
    EXPECT_EQ(FEvents[0].Stage, psStarting);
    EXPECT_EQ(FEvents[0].Percent, 0);
    EXPECT_EQ(FEvents[1].Stage, psEnding);
    EXPECT_EQ(FEvents[1].Percent, C.EndPercent);
    for (const auto& E : FEvents) {
      EXPECT_FALSE(E.RedrawNow);
      EXPECT_EQ(E.R, TRect{});
    }
  }
}

TEST_F(JpegTest, RunningProgressIsThrottledAndCoversTheNewRows) {
  auto J = Load(MakeJpeg({32, 400}));
  Record(*J, 200);
  Draw(*J);
  std::vector<TProgressRecord> Running;
  for (const auto& E : FEvents)
    if (E.Stage == psRunning) Running.push_back(E);
  ASSERT_GE(Running.size(), 3u);
  for (std::size_t I = 0; I < Running.size(); ++I) {
    const TProgressRecord& E = Running[I];
    EXPECT_EQ(E.R.Top, I ? Running[I - 1].R.Bottom : 0);
    EXPECT_EQ(E.RedrawNow, E.R.Height() >= 4);
    if (I) {
      EXPECT_GE(E.Time - Running[I - 1].Time, 500u);
      EXPECT_GT(E.Percent, Running[I - 1].Percent);
    }
  }
  EXPECT_EQ(FEvents.back().Stage, psEnding);
}

}  // namespace
