#include "picture/jpeg/Jpeg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "picture/FileFormats.h"
#include "support/JpegFiles.h"
#include "support/PixelMemoryFailure.h"

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

// 236 colours, the colour map in red, green, blue order.
void QuantizeAsTheGraphicDoes(jpeg_decompress_struct& D) {
  if (D.out_color_space == JCS_EXT_BGR) D.out_color_space = JCS_RGB;
  D.quantize_colors = TRUE;
  D.desired_number_of_colors = 236;
}

TEST_F(JpegTest, DecodesThePixelsOfThePlainDecode) {
  struct TCase {
    const char* Name;
    TJpegFileOptions Options;
    int Bpp;
  } Cases[] = {
      {"baseline 4:2:0", {64, 48}, 24},
      {"4:4:4, size not a whole number of blocks", {37, 21, false, 1, 1}, 24},
      {"4:2:2, odd size", {33, 17, false, 2, 1}, 24},
      {"progressive", {64, 48, false, 2, 2, true}, 24},
      {"restart interval every row", {64, 48, false, 2, 2, false, 1}, 24},
      {"arithmetic coding", {64, 48, false, 2, 2, false, 0, 90, true}, 24},
      {"grayscale: 236 levels", {40, 30, true}, 8},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const auto Bytes = MakeJpeg(C.Options);
    auto J = Load(Bytes);
    EXPECT_EQ(J->Width(), C.Options.Width);
    EXPECT_EQ(J->Height(), C.Options.Height);
    EXPECT_EQ(J->Grayscale(), C.Options.Gray);
    EXPECT_EQ(J->Progressive(), C.Options.Progressive);
    J->SetPaletteModified(false);
    Draw(*J);
    ASSERT_EQ(J->Bitmap()->BitsPerPixel(), C.Bpp);
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes, C.Options.Gray ? QuantizeAsTheGraphicDoes : nullptr)), 0);
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

// A file of only the frame and scan headers: start of image, a start of frame
// (Marker) for 3 components of Width x Height, one scan of all components.
std::vector<std::uint8_t> HeadersOnly(std::uint8_t Marker, int Width, int Height) {
  const auto W = static_cast<std::uint8_t>(Width >> 8), w = static_cast<std::uint8_t>(Width);
  const auto H = static_cast<std::uint8_t>(Height >> 8), h = static_cast<std::uint8_t>(Height);
  const std::uint8_t Se = Marker == 0xC2 ? 0 : 63;
  return {0xFF, 0xD8, 0xFF, Marker, 0, 17, 8, H, h, W, w, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0,
          0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0, 3, 0, 0, Se, 0};
}

TEST_F(JpegTest, FailuresCarryTheLibrarysCodeAndComeOnce) {
  const auto Good = MakeJpeg({64, 48});
  TJpegFileOptions Cmyk;
  Cmyk.Cmyk = true;
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    TJPEGPixelFormat Format;
    const char* LoadError;
    const char* DrawError;
    std::size_t Notifications;  // psStarting and psEnding, or none when the set-up fails
  } Cases[] = {
      {"PNG signature: not a JPEG file", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}, jf24Bit,
       "JPEG error #53", "", 0},
      {"zero-length file: empty input", {}, jf24Bit, "", "JPEG error #42", 0},
      {"65500 x 65500: more pixels than a picture may have", HeadersOnly(0xC0, 65500, 65500), jf24Bit,
       "JPEG error #41", "", 0},
      {"65500 x 4096 unsubsampled progressive: 1.6 GB of coefficients refused", HeadersOnly(0xC2, 65500, 4096),
       jf24Bit, "", "JPEG error #49", 2},
      {"CMYK: no conversion to 24-bit colour", MakeJpeg(Cmyk), jf24Bit, "", "JPEG error #27", 2},
      {"CMYK: nor to a colour map", MakeJpeg(Cmyk), jf8Bit, "", "JPEG error #27", 2},
      {"second start of image in the pixel data", WithSecondStartMarker(Good, 0.7), jf24Bit, "", "JPEG error #61", 2},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    FEvents.clear();
    auto J = Load(Good);
    J->SetPixelFormat(C.Format);
    Record(*J, 0);
    EXPECT_EQ(ErrorOf([&] { J->LoadFromStream(*TMemoryStream::Over(C.Bytes)); }), C.LoadError);
    if (*C.LoadError) {
      EXPECT_EQ(J->Width(), 64);  // the graphic is as it was
      continue;
    }
    EXPECT_EQ(ErrorOf([&] { Draw(*J); }), C.DrawError);
    ASSERT_EQ(FEvents.size(), C.Notifications);
    if (C.Notifications) {
      EXPECT_EQ(FEvents.back().Percent, 0);
    }
    EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "");
    EXPECT_EQ(FEvents.size(), C.Notifications);  // never decoded twice
  }
  // A zero-length file has no size but is not empty: drawing it reports its error.
  auto J = Load({});
  EXPECT_FALSE(J->Empty());
  EXPECT_EQ(J->Width(), 0);
  EXPECT_EQ(J->Height(), 0);
}

TEST_F(JpegTest, TruncatedFileDrawsWithTheMissingPartFilledIn) {
  auto Bytes = MakeJpeg({64, 48});
  Bytes.resize(Bytes.size() * 3 / 5);
  auto J = Load(Bytes);
  EXPECT_NO_THROW(Draw(*J));
  EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes)), 0);
}

TEST_F(JpegTest, CorruptFileKeepsWhatWasDecodedBeforeTheError) {
  const auto Good = MakeJpeg({64, 48});
  auto J = Load(WithSecondStartMarker(Good, 0.7));
  EXPECT_THROW(Draw(*J), EJPEG);
  EXPECT_EQ(J->Width(), J->Bitmap()->Width());
  EXPECT_EQ(J->Bitmap()->Height(), 48);
  EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Good), 16), 0);  // the rows before the damage
}

TEST_F(JpegTest, QuickDecodeReportsOnlyStartAndEnd) {
  auto J = Load(MakeJpeg({64, 48}));
  J->SetPaletteModified(false);
  Record(*J, 0);
  Draw(*J);
  ASSERT_EQ(FEvents.size(), 2u);
  EXPECT_EQ(FEvents[0].Stage, psStarting);
  EXPECT_EQ(FEvents[0].Percent, 0);
  EXPECT_EQ(FEvents[1].Stage, psEnding);
  EXPECT_EQ(FEvents[1].Percent, 100);
  for (const auto& E : FEvents) {
    EXPECT_FALSE(E.RedrawNow);
    EXPECT_EQ(E.R, TRect{});
  }
}

TEST_F(JpegTest, RunningProgressIsThrottledAndCoversTheNewRows) {
  // 400 rows in one pass: the whole percentage changes every 4 rows.
  const auto Bytes = MakeJpeg({32, 400});
  for (std::uint64_t Step : {500u, 200u}) {
    SCOPED_TRACE(Step);
    FEvents.clear();
    auto J = Load(Bytes);
    Record(*J, Step);
    Draw(*J);
    std::vector<TProgressRecord> Running;
    for (const auto& E : FEvents)
      if (E.Stage == psRunning) Running.push_back(E);
    ASSERT_GE(Running.size(), 3u);
    for (std::size_t I = 0; I < Running.size(); ++I) {
      const TProgressRecord& E = Running[I];
      EXPECT_EQ(E.R.Top, I ? Running[I - 1].R.Bottom : 0);
      EXPECT_EQ(E.RedrawNow, E.R.Height() >= 4);
      // With every reading of the clock past the interval, each new percent is
      // reported at once (the percentage is truncated from floating point).
      if (Step == 500) {
        EXPECT_NEAR(E.R.Height(), 4, 1);
      }
      if (I) {
        EXPECT_GE(E.Time - Running[I - 1].Time, 500u);
        EXPECT_GT(E.Percent, Running[I - 1].Percent);
      }
    }
    EXPECT_EQ(FEvents.back().Stage, psEnding);
  }
}

TEST_F(JpegTest, ProgressiveDisplayShowsEachScanAndEndsWithThePlainPicture) {
  const auto Bytes = MakeJpeg({32, 64, false, 2, 2, true});
  int Scans = 0;
  for (std::size_t I = 0; I + 1 < Bytes.size(); ++I) Scans += Bytes[I] == 0xFF && Bytes[I + 1] == 0xDA;
  for (bool Display : {false, true}) {
    SCOPED_TRACE(Display);
    FEvents.clear();
    auto J = Load(Bytes);
    J->SetProgressiveDisplay(Display);
    Record(*J, 500);
    Draw(*J);
    // A notification whose band reaches the bottom closes a pass: the next starts at the top.
    int Passes = 0;
    for (const auto& E : FEvents) Passes += E.Stage == psRunning && E.R.Bottom == 64;
    EXPECT_EQ(Passes, Display ? Scans : 0);
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes)), 0);
  }
}

TEST_F(JpegTest, EightBitScreenGetsOutputQuantisedByTheDecoder) {
  DisplayInfo().BitsPerPixel = 4;
  DisplayInfo().Planes = 2;
  InitializeJpegSupport();
  FinalizeJpegSupport();
  ASSERT_EQ(DefaultJpegSettings().PixelFormat, jf8Bit);
  for (bool Progressive : {false, true}) {
    SCOPED_TRACE(Progressive);
    const auto Bytes = MakeJpeg({48, 40, false, 2, 2, Progressive});
    auto J = Load(Bytes);
    J->SetProgressiveDisplay(true);
    J->SetPaletteModified(false);
    Draw(*J);
    EXPECT_EQ(J->Bitmap()->BitsPerPixel(), 8);
    EXPECT_TRUE(J->PaletteModified());
    ASSERT_NE(J->Palette(), nullptr);
    EXPECT_LE(J->Palette()->Entries().size(), 236u);
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes, QuantizeAsTheGraphicDoes)), 0);
  }
}

TEST_F(JpegTest, PaletteGivenBeforeTheDecode) {
  DisplayInfo().BitsPerPixel = 8;
  const auto Colour = MakeJpeg({48, 40});
  const auto Halftone = CreateHalftonePalette();
  // 24-bit output on a palette screen: a halftone palette until the decode drops it.
  auto J = Load(Colour);
  ASSERT_NE(J->Palette(), nullptr);
  EXPECT_EQ(J->Palette()->Entries(), Halftone->Entries());
  Draw(*J);
  EXPECT_EQ(J->Bitmap()->BitsPerPixel(), 24);
  EXPECT_EQ(J->Palette(), nullptr);

  // 8-bit colour output is mapped to the given palette, also in the final pass of a progressive display.
  const auto MapToHalftone = [&](jpeg_decompress_struct& D) {
    QuantizeAsTheGraphicDoes(D);
    D.colormap = (*D.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&D), JPOOL_IMAGE, 256, 3);
    for (std::size_t I = 0; I < 256; ++I)
      for (int K = 0; K < 3; ++K) D.colormap[K][I] = static_cast<JSAMPLE>(Halftone->Entries()[I] >> (16 - 8 * K));
    D.actual_number_of_colors = 256;
  };
  for (bool Progressive : {false, true}) {
    const auto Bytes = MakeJpeg({48, 40, false, 2, 2, Progressive});
    J = Load(Bytes);
    J->SetPixelFormat(jf8Bit);
    J->SetProgressiveDisplay(true);
    J->SetPalette(Halftone.get());
    Draw(*J);
    EXPECT_EQ(J->Bitmap()->ColorTable(), Halftone->Entries());
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes, MapToHalftone)), 0);
  }

  // Gray output keeps its own gray levels: the library maps only colour output to a given palette.
  const auto Gray = MakeJpeg({48, 40, true});
  J = Load(Gray);
  J->SetPalette(Halftone.get());
  Draw(*J);
  EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Gray, QuantizeAsTheGraphicDoes)), 0);
}

TEST_F(JpegTest, SizeCannotBeWritten) {
  auto J = Load(MakeJpeg({64, 48}));
  EXPECT_EQ(ErrorOf([&] { J->SetWidth(10); }), "Cannot change the size of a JPEG image");
  EXPECT_EQ(ErrorOf([&] { J->SetHeight(10); }), "Cannot change the size of a JPEG image");
  EXPECT_EQ(J->Width(), 64);
}

TEST_F(JpegTest, ProgressHandlerMayStopRedrawOrFailTheDecode) {
  const auto Bytes = MakeJpeg({32, 400});
  enum TAction { acAbort, acRaise, acDrawAgain, acReload };
  struct TCase {
    TAction Action;
    const char* Error;
    int EndPercent;
  } Cases[] = {
      {acAbort, "", 0},
      {acRaise, "stop", 0},
      {acDrawAgain, "", 100},  // draws what is decoded so far, without a second decode
      {acReload, "Cannot change a JPEG image while it is being decoded", 0},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Action);
    FEvents.clear();
    auto J = Load(Bytes);
    Record(*J, 500);
    bool LastRowBlack = true;
    J->OnProgress = [&](TObject*, TProgressStage Stage, std::uint8_t Percent, bool, const TRect&, const std::string&) {
      FEvents.push_back({Stage, Percent, false, {}, FClock});
      if (Stage != psRunning) return;
      // A handler sees the rows the decode has not reached black, never left-over memory.
      const std::uint8_t* Last = J->Bitmap()->ScanLine(399);
      LastRowBlack = LastRowBlack && std::all_of(Last, Last + 96, [](std::uint8_t V) { return V == 0; });
      if (C.Action == acAbort) Abort();
      if (C.Action == acRaise) throw EInvalidGraphic("stop");
      if (C.Action == acDrawAgain) Draw(*J);
      if (C.Action == acReload) J->Assign(Load(Bytes).get());
    };
    {
      // Memory the bitmap may get, full of something other than black.
      std::vector<std::uint8_t> Used(32 * 3 * 400, 0xA5);
    }
    EXPECT_EQ(ErrorOf([&] { Draw(*J); }), C.Error);
    ASSERT_GE(FEvents.size(), 3u);
    EXPECT_TRUE(LastRowBlack);
    EXPECT_EQ(FEvents.back().Stage, psEnding);
    EXPECT_EQ(FEvents.back().Percent, C.EndPercent);
    const std::size_t Reported = FEvents.size();
    EXPECT_EQ(ErrorOf([&] { Draw(*J); }), "");
    EXPECT_EQ(FEvents.size(), Reported);
  }
}

TEST_F(JpegTest, CopyTakesTheFileSettingsAndDecodedBitmap) {
  auto Source = Load(MakeJpeg({64, 48}));
  Source->SetScale(jsHalf);
  TPicture P;
  P.CopyFrom(Source.get());
  auto* Copy = dynamic_cast<TJPEGImage*>(P.Graphic());
  ASSERT_NE(Copy, nullptr);
  EXPECT_EQ(Copy->Width(), 32);
  EXPECT_FALSE(Copy->Decoded());

  Draw(*Source);
  P.CopyFrom(Source.get());
  Copy = dynamic_cast<TJPEGImage*>(P.Graphic());
  ASSERT_TRUE(Copy->Decoded());
  EXPECT_NE(Copy->Bitmap(), Source->Bitmap());
  EXPECT_TRUE(Copy->Bitmap()->Equals(Source->Bitmap()));
}

TEST_F(JpegTest, RegisteredForJpegFilesUntilShutdown) {
  TFileFormatsList& Formats = TFileFormatsList::Instance();
  InitializeJpegSupport();
  InitializeJpegSupport();
  EXPECT_EQ(Formats.FindByExtension("JPG"), TJPEGImage::StaticClass());
  EXPECT_EQ(Formats.BuildPictureFilter(TGraphic::StaticClass()),
            "All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf|"
            "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
            "Icons (*.ico)|*.ico|Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf");

  const auto Bytes = MakeJpeg({64, 48});
  const auto Path = std::filesystem::temp_directory_path() / "kest_jpeg_test_photo.Jpeg";
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                              static_cast<std::streamsize>(Bytes.size()));
  TPicture P;
  P.LoadFile(Path.string());
  std::filesystem::remove(Path);
  EXPECT_EQ(P.Width(), 64);

  // Stored form: the class name, a 32-bit length and the file.
  TMemoryStream Stored;
  P.WriteStored(Stored);
  const auto Form = Stored.Bytes();
  ASSERT_EQ(Form.size(), 1 + 10 + 4 + Bytes.size());
  EXPECT_EQ(std::string(Form.begin() + 1, Form.begin() + 11), "TJPEGImage");
  EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.end(), Form.begin() + 15));
  TPicture Q;
  Stored.SetPosition(0);
  Q.ReadStored(Stored);
  EXPECT_EQ(Q.Height(), 48);
  // An empty graphic stores length 0 and reads back empty.
  Q.CopyFrom(std::make_unique<TJPEGImage>().get());
  TMemoryStream EmptyForm;
  Q.WriteStored(EmptyForm);
  EmptyForm.SetPosition(0);
  P.ReadStored(EmptyForm);
  EXPECT_TRUE(P.Graphic()->Empty());
  EXPECT_EQ(ErrorOf([&] { Draw(*static_cast<TJPEGImage*>(P.Graphic())); }), "");
  // A length beyond the end of the form.
  std::vector<std::uint8_t> Short(Form.begin(), Form.end() - 1);
  EXPECT_EQ(ErrorOf([&] { Q.ReadStored(*TMemoryStream::Over(Short)); }), "Stream read error");

  FinalizeJpegSupport();
  EXPECT_EQ(Formats.FindByExtension("jpg"), nullptr);
  EXPECT_EQ(Formats.FindByExtension("jpeg"), nullptr);
}

// Memory that runs out for the decoded pixels: the documented system error,
// once; later drawings draw nothing, and the graphic can still be copied.
TEST_F(JpegTest, FirstDrawingWithoutMemoryRaisesOnce) {
  const auto Bytes = MakeJpeg({});
  auto J = Load(Bytes);
  TBitmap Target(8, 8);
  {
    TPixelMemoryFailure Fail(64 * 48 * 3);
    EXPECT_EQ(ErrorOf([&] { J->DrawInto(Target.Canvas(), Rect(0, 0, 8, 8)); }), OutOfMemoryMessage);
    EXPECT_EQ(ErrorOf([&] { J->DrawInto(Target.Canvas(), Rect(0, 0, 8, 8)); }), "");
  }
  EXPECT_EQ(Target.View().PixelAt(0, 0), 0xFFFFFFu);
  TPicture Copy;
  Copy.CopyFrom(J.get());
  EXPECT_EQ(ErrorOf([&] { Target.Canvas().StretchDraw(Rect(0, 0, 8, 8), Copy.Graphic()); }), "");
  TMemoryStream Stored;
  Copy.WriteStored(Stored);
  EXPECT_EQ(Stored.Bytes().size(), 1 + 10 + 4 + Bytes.size());
}

}  // namespace
