#include "picture/jpeg/Jpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

#include "picture/FileFormats.h"
#include "picture/jpeg/JpegSplitDecode_p.h"
#include "support/GraphicTests.h"
#include "support/JpegFiles.h"
#include "support/JpegSettingsTest.h"
#include <jerror.h>
#include "support/PixelMemoryFailure.h"

namespace {

struct TProgressRecord {
  TProgressStage Stage;
  int Percent;
  bool RedrawNow;
  TRect R;
  std::uint64_t Time;
};

class JpegTest : public TJpegSettingsTest {
 protected:

  static std::unique_ptr<TJPEGImage> Load(const std::vector<std::uint8_t>& Bytes) {
    auto J = std::make_unique<TJPEGImage>();
    auto S = TMemoryStream::Over(Bytes);
    J->LoadFromStream(*S);
    return J;
  }
  static void Draw(TJPEGImage& J) {
    TBitmap Target(2, 2);
    J.DrawInto(Target.Canvas(), Rect(0, 0, J.Width(), J.Height()));
  }
  // Records the notifications of J with a fake clock that advances by Step per reading.
  void Record(TJPEGImage& J, std::uint64_t Step) {
    J.SetTickSource([this, Step] { return FClock += Step; });
    J.OnProgress = [this](TObject*, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                          const std::string&) { FEvents.push_back({Stage, Percent, Redraw, R, FClock}); };
  }

  std::uint64_t FClock = 1000;
  std::vector<TProgressRecord> FEvents;
};

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
      {"65500 x 65500 progressive: more pixels than a picture may have", HeadersOnly(0xC2, 65500, 65500), jf24Bit,
       "JPEG error #41", "", 0},
      {"65500 x 4096 unsubsampled progressive: 1.6 GB of coefficients refused", HeadersOnly(0xC2, 65500, 4096),
       jf24Bit, "", "JPEG error #49", 2},
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
    EXPECT_EQ(ErrorOf([&] { J->DrawInto(Target.Canvas(), Rect(0, 0, 64, 48)); }), OutOfMemoryMessage);
    EXPECT_EQ(ErrorOf([&] { J->DrawInto(Target.Canvas(), Rect(0, 0, 64, 48)); }), "");
  }
  EXPECT_EQ(Target.View().PixelAt(0, 0), 0xFFFFFFu);
  TPicture Copy;
  Copy.CopyFrom(J.get());
  EXPECT_EQ(ErrorOf([&] { Target.Canvas().StretchDraw(Rect(0, 0, 8, 8), Copy.Graphic()); }), "");
  TMemoryStream Stored;
  Copy.WriteStored(Stored);
  EXPECT_EQ(Stored.Bytes().size(), 1 + 10 + 4 + Bytes.size());
}


// The plain decode reduced by 1 << Shift.
TPlainImage PlainDecodeAt(const std::vector<std::uint8_t>& Bytes, int Shift) {
  return PlainDecode(Bytes, [Shift](jpeg_decompress_struct& D) {
    D.scale_num = 1;
    D.scale_denom = 1u << Shift;
  });
}

int StartsOf(const std::vector<TProgressRecord>& Events) {
  return static_cast<int>(std::count_if(Events.begin(), Events.end(),
                                        [](const TProgressRecord& E) { return E.Stage == psStarting; }));
}

// A drawing at half the size or less decodes the smallest reduction that still
// covers it; the size, the stored form and the full bitmap stay the picture's.
TEST_F(JpegTest, DrawingAtHalfSizeOrLessDecodesTheDraftThatCoversIt) {
  const auto Bytes = MakeJpeg({101, 67});
  struct TCase {
    TJPEGScale Scale;
    int W, H;
    int Shift;  // beyond the scale; 0: the full decode
  } Cases[] = {
      {jsFullSize, 101, 67, 0}, {jsFullSize, 60, 30, 0},  {jsFullSize, 51, 34, 1}, {jsFullSize, 30, 20, 1},
      {jsFullSize, 26, 17, 2},  {jsFullSize, 14, 9, 2},   {jsFullSize, 13, 9, 3},  {jsFullSize, 2, 2, 3},
      {jsFullSize, 51, 35, 0},  {jsHalf, 51, 34, 0},      {jsHalf, 26, 17, 1},     {jsHalf, 1, 1, 2},
      {jsEighth, 1, 1, 0},
  };
  // Drafts at 1/4 and 1/8 also on two threads, whatever the picture's size.
  struct TRestore {
    const TJpegSplitSettings Saved = JpegSplitSettings();
    ~TRestore() { JpegSplitSettings() = Saved; }
  } Restore;
  for (const bool Split : {false, true}) {
    for (const TCase& C : Cases) {
      SCOPED_TRACE(testing::Message() << "scale " << int(C.Scale) << ", " << C.W << " x " << C.H
                                      << (Split ? ", split" : ""));
      JpegSplitSettings() = Split ? TJpegSplitSettings{true, 0.5, 0, true} : Restore.Saved;
      auto J = Load(Bytes);
      J->SetScale(C.Scale);
      const int W = J->Width(), H = J->Height();
      FEvents.clear();
      Record(*J, 1);
      TBitmap Target(C.W, C.H);
      J->DrawInto(Target.Canvas(), Rect(0, 0, C.W, C.H));
      EXPECT_EQ(J->Width(), W);
      EXPECT_EQ(J->Height(), H);
      ASSERT_EQ(StartsOf(FEvents), 1);
      EXPECT_EQ(FEvents.back().Stage, psEnding);
      const int Total = C.Scale + C.Shift;
      if (C.Shift == 0) {
        EXPECT_TRUE(J->Decoded());
        EXPECT_EQ(J->Draft(), nullptr);
      } else {
        EXPECT_FALSE(J->Decoded());
        ASSERT_NE(J->Draft(), nullptr);
        EXPECT_EQ(J->DraftShift(), C.Shift);
        EXPECT_EQ(Mismatches(*J->Draft(), PlainDecodeAt(Bytes, Total)), 0);
        // What was drawn is the draft.
        TBitmap Expected(C.W, C.H);
        Expected.Canvas().StretchDraw(Rect(0, 0, C.W, C.H), const_cast<TBitmap*>(J->Draft()));
        EXPECT_TRUE(Target.Equals(&Expected));
      }
      // A full-resolution read gets the whole picture and drops the draft.
      ASSERT_NE(J->Bitmap(), nullptr);
      EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecodeAt(Bytes, C.Scale)), 0);
      EXPECT_EQ(J->Draft(), nullptr);
    }
  }
}

// Zooming in past the draft decodes more detail: a smaller reduction, then the
// full picture, which serves every later drawing.
TEST_F(JpegTest, ZoomingInPastTheDraftDecodesMoreDetail) {
  const auto Bytes = MakeJpeg({200, 120, false, 2, 2, true});
  for (const bool Shown : {false, true}) {
    SCOPED_TRACE(Shown ? "progressive display" : "plain");
    auto J = Load(Bytes);
    J->SetProgressiveDisplay(Shown);
    FEvents.clear();
    Record(*J, 1000);
    TBitmap Target(200, 120);
    const auto DrawAt = [&](int W, int H) { J->DrawInto(Target.Canvas(), Rect(0, 0, W, H)); };
    DrawAt(25, 15);
    EXPECT_EQ(J->DraftShift(), 3);
    DrawAt(20, 12);
    EXPECT_EQ(StartsOf(FEvents), 1);
    DrawAt(40, 24);
    EXPECT_EQ(J->DraftShift(), 2);
    EXPECT_EQ(StartsOf(FEvents), 2);
    // The notifications of a draft's decode speak of the picture's pixels.
    for (const TProgressRecord& E : FEvents)
      if (E.Stage == psRunning) {
        EXPECT_LE(E.R.Right, 200);
        EXPECT_LE(E.R.Bottom, 120);
      }
    DrawAt(101, 61);
    EXPECT_TRUE(J->Decoded());
    EXPECT_EQ(J->Draft(), nullptr);
    EXPECT_EQ(StartsOf(FEvents), 3);
    EXPECT_EQ(Mismatches(*J->Bitmap(), PlainDecode(Bytes)), 0);
    DrawAt(10, 6);
    EXPECT_EQ(StartsOf(FEvents), 3);
    EXPECT_TRUE(J->Decoded());
  }
}

// A draft's palette (8-bit output) raises no change, which would reset a
// view's zoom; the full picture's does, as before.
TEST_F(JpegTest, DraftOfEightBitOutputRaisesNoChange) {
  auto J = Load(MakeJpeg({64, 48, true}));
  int Changes = 0;
  J->OnChange = [&](TObject*) { ++Changes; };
  TBitmap Target(64, 48);
  J->DrawInto(Target.Canvas(), Rect(0, 0, 16, 12));
  ASSERT_NE(J->Draft(), nullptr);
  EXPECT_EQ(J->Draft()->BitsPerPixel(), 8);
  EXPECT_TRUE(J->PaletteModified());
  EXPECT_EQ(Changes, 0);
  J->DrawInto(Target.Canvas(), Rect(0, 0, 64, 48));
  EXPECT_EQ(Changes, 1);
}

// Every read of the pixels gets the full picture after a draft was drawn: the
// bitmap, a drawing at the picture's size, a copy, the stored form, the file.
TEST_F(JpegTest, FullResolutionReadsAfterADraftGetThePicture) {
  const auto Bytes = MakeJpeg({96, 64});
  const TPlainImage Full = PlainDecode(Bytes);
  const auto WithDraft = [&] {
    auto J = Load(Bytes);
    TBitmap Small(12, 8);
    J->DrawInto(Small.Canvas(), Rect(0, 0, 12, 8));
    EXPECT_NE(J->Draft(), nullptr);
    return J;
  };
  {
    auto J = WithDraft();
    TBitmap Whole(96, 64);
    J->DrawInto(Whole.Canvas(), Rect(0, 0, 96, 64));
    EXPECT_EQ(Mismatches(Whole, Full), 0);
  }
  {
    auto J = WithDraft();
    TPicture P;
    P.CopyFrom(J.get());
    auto* Copy = static_cast<TJPEGImage*>(P.Graphic());
    EXPECT_EQ(Copy->Draft(), nullptr);
    EXPECT_EQ(Mismatches(*Copy->Bitmap(), Full), 0);
    TBitmap Whole(96, 64);
    Whole.Canvas().Draw(0, 0, Copy);
    EXPECT_EQ(Mismatches(Whole, Full), 0);
  }
  {
    auto J = WithDraft();
    TMemoryStream Saved, Stored;
    J->SaveToStream(Saved);
    EXPECT_EQ(std::vector<std::uint8_t>(Saved.Bytes().begin(), Saved.Bytes().end()), Bytes);
    J->WriteData(Stored);
    Stored.SetPosition(0);
    TJPEGImage Back;
    Back.ReadData(Stored);
    EXPECT_EQ(Back.Width(), 96);
    EXPECT_EQ(Mismatches(*Back.Bitmap(), Full), 0);
  }
}

// Restores the pixel limit of the JPEG decoder when a test ends.
struct TLimitScope {
  explicit TLimitScope(std::uint64_t Limit) : Saved(JpegPixelLimit()) { JpegPixelLimit() = Limit; }
  ~TLimitScope() { JpegPixelLimit() = Saved; }
  std::uint64_t Saved;
};

// A single-scan picture beyond the pixel limit opens with its full size and is
// drawn from the largest reduction under the limit, enlarged; its full bitmap
// is refused with the "too big" error, which changes nothing. A multi-scan one
// stays refused at loading.
TEST_F(JpegTest, PictureOverThePixelLimitShowsTheLargestReductionUnderIt) {
  const auto Bytes = MakeJpeg({300, 200});
  const std::string TooBig = "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG);
  const TLimitScope Limit(100 * 100);  // 1/2 has 150 x 100, 1/4 75 x 50
  auto J = Load(Bytes);
  EXPECT_EQ(J->Width(), 300);
  EXPECT_EQ(J->Height(), 200);
  EXPECT_EQ(ErrorOf([&] { J->Bitmap(); }), TooBig);
  EXPECT_FALSE(J->Decoded());
  EXPECT_EQ(J->Draft(), nullptr);

  TBitmap Whole(300, 200);
  J->DrawInto(Whole.Canvas(), Rect(0, 0, 300, 200));
  ASSERT_NE(J->Draft(), nullptr);
  EXPECT_EQ(J->DraftShift(), 2);
  EXPECT_EQ(J->Draft()->Width(), 75);
  EXPECT_EQ(Mismatches(*J->Draft(), PlainDecodeAt(Bytes, 2)), 0);
  // Drawn enlarged: each draft pixel covers 4 x 4 of the picture's.
  EXPECT_EQ(Whole.View().PixelAt(297, 198) & 0xFFFFFF, J->Draft()->View().PixelAt(74, 49) & 0xFFFFFF);
  // A smaller drawing is served by that draft; zooming in further too.
  Record(*J, 1);
  TBitmap Small(30, 20);
  J->DrawInto(Small.Canvas(), Rect(0, 0, 30, 20));
  J->DrawInto(Whole.Canvas(), Rect(0, 0, 600, 400));
  EXPECT_EQ(J->DraftShift(), 2);
  EXPECT_EQ(StartsOf(FEvents), 0);
  // Afresh, a small drawing takes the smallest draft, and zooming in the largest.
  J = Load(Bytes);
  J->DrawInto(Small.Canvas(), Rect(0, 0, 30, 20));
  EXPECT_EQ(J->DraftShift(), 3);
  J->DrawInto(Whole.Canvas(), Rect(0, 0, 600, 400));
  EXPECT_EQ(J->DraftShift(), 2);
  // The largest baseline file the format allows opens (its header alone here).
  auto Huge = Load(HeadersOnly(0xC0, 65500, 65500));
  EXPECT_EQ(Huge->Width(), 65500);
  EXPECT_EQ(ErrorOf([&] { J->Bitmap(); }), TooBig);
  EXPECT_EQ(J->Width(), 300);
  // The file and the stored form stay whole.
  TMemoryStream Saved;
  J->SaveToStream(Saved);
  EXPECT_EQ(std::vector<std::uint8_t>(Saved.Bytes().begin(), Saved.Bytes().end()), Bytes);

  // A file of several scans beyond the limit: refused at loading, the graphic unchanged.
  const auto Multi = MakeJpeg({300, 200, false, 2, 2, true});
  auto S = TMemoryStream::Over(Multi);
  EXPECT_EQ(ErrorOf([&] { J->LoadFromStream(*S); }), TooBig);
  EXPECT_EQ(J->Progressive(), false);
  EXPECT_NE(J->Draft(), nullptr);
  // Under the limit it loads as before.
  JpegPixelLimit() = 300 * 200;
  EXPECT_EQ(ErrorOf([&] { Load(Multi)->Bitmap(); }), "");
  EXPECT_EQ(ErrorOf([&] { Load(Bytes)->Bitmap(); }), "");
}

// A large single-scan picture made row by row: past the real limit, it opens
// and is drawn at fit from its 1/8 reduction.
TEST_F(JpegTest, LargePictureOverTheLimitOpensAtItsReducedSize) {
  TJpegEncoding E;
  E.Width = 16400;
  E.Height = 16400;  // more than 2^28 pixels
  E.Components = 1;
  E.Quality = 10;
  const auto Bytes = CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
    for (int X = 0; X < E.Width; ++X) Row[X] = static_cast<JSAMPLE>((X / 512 + Y / 512) % 2 ? 200 : 50);
  });
  auto J = Load(Bytes);
  EXPECT_EQ(J->Width(), 16400);
  TBitmap Fit(1025, 1025);
  J->DrawInto(Fit.Canvas(), Rect(0, 0, 1025, 1025));
  ASSERT_NE(J->Draft(), nullptr);
  EXPECT_EQ(J->DraftShift(), 3);
  EXPECT_EQ(J->Draft()->Width(), 2050);
  // Blocks of 512 pixels are 32 at fit: dark, then light.
  EXPECT_NEAR(static_cast<int>(Fit.View().PixelAt(100, 100) & 0xFF), 50, 4);
  EXPECT_NEAR(static_cast<int>(Fit.View().PixelAt(100 + 32, 100) & 0xFF), 200, 4);
  EXPECT_THROW(J->Bitmap(), EJPEG);
}


void WriteFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

// Loading from a file reads its header; the rest comes from the file opened
// then: the picture and its stored form are the file's as loaded, also when it
// is deleted or replaced under its name meanwhile. A file changed in place
// fails its decode and its saving with a read error, which is kept.
TEST_F(JpegTest, FileLoadedByItsHeaderGivesTheBytesLoadedOrAReadError) {
  struct TKeepOpen {
    std::size_t Was = std::exchange(JpegReadWholeUpTo(), 0);
    ~TKeepOpen() { JpegReadWholeUpTo() = Was; }
  } KeepOpen;
  const auto Dir = std::filesystem::temp_directory_path();
  const auto Path = Dir / "kest_jpeg_test_lazy.jpg";
  const auto Bytes = MakeJpeg({1000, 800, false, 1, 1, false, 0, 95, false, false, true});
  ASSERT_GT(Bytes.size(), 300000u);  // more than the start read at loading
  const auto Other = MakeJpeg({1000, 800, false, 1, 1, false, 0, 94, false, false, true});
  const TPlainImage Full = PlainDecode(Bytes);
  const auto Saved = [](TJPEGImage& J) {
    TMemoryStream S;
    J.SaveToStream(S);
    return std::vector<std::uint8_t>(S.Bytes().begin(), S.Bytes().end());
  };
  {
    SCOPED_TRACE("deleted, then replaced under its name");
    WriteFile(Path, Bytes);
    TJPEGImage J;
    J.LoadFromFile(Path.string());
    EXPECT_EQ(J.Width(), 1000);
    std::filesystem::remove(Path);
    WriteFile(Path, Other);
    EXPECT_EQ(Mismatches(*J.Bitmap(), Full), 0);
    EXPECT_EQ(Saved(J), Bytes);
  }
  {
    SCOPED_TRACE("changed in place");
    WriteFile(Path, Bytes);
    TJPEGImage J;
    J.LoadFromFile(Path.string());
    TJPEGImage Copy;
    Copy.Assign(&J);
    WriteFile(Path, Other);
    const std::string Changed = "The file \"" + Path.string() + "\" changed after it was loaded";
    EXPECT_EQ(ErrorOf([&] { Saved(J); }), Changed);
    EXPECT_EQ(ErrorOf([&] { Draw(J); }), Changed);
    EXPECT_EQ(ErrorOf([&] { Draw(J); }), "");
    EXPECT_EQ(ErrorOf([&] { Copy.Bitmap(); }), Changed);
  }
  {
    SCOPED_TRACE("a small file is read whole at loading and closed");
    JpegReadWholeUpTo() = Bytes.size();
    WriteFile(Path, Bytes);
    TJPEGImage J;
    J.LoadFromFile(Path.string());
    JpegReadWholeUpTo() = 0;
    WriteFile(Path, Other);
    EXPECT_EQ(Mismatches(*J.Bitmap(), Full), 0);
    EXPECT_EQ(Saved(J), Bytes);
  }
  {
    SCOPED_TRACE("cut short");
    WriteFile(Path, Bytes);
    InitializeJpegSupport();
    TPicture P;
    P.LoadFile(Path.string());
    FinalizeJpegSupport();
    EXPECT_EQ(P.Width(), 1000);
    std::filesystem::resize_file(Path, Bytes.size() / 2);
    TMemoryStream Stored;
    EXPECT_NE(ErrorOf([&] { P.Graphic()->WriteData(Stored); }), "");
    EXPECT_EQ(Stored.Size(), 0);
  }
  {
    SCOPED_TRACE("a header longer than the start read at loading");
    auto Long = Bytes;
    // Comment segments of 64 KB after the start of image.
    std::vector<std::uint8_t> Com{0xFF, 0xFE, 0xFF, 0xFF};
    Com.resize(2 + 0xFFFF, 'x');
    for (int I = 0; I < 6; ++I) Long.insert(Long.begin() + 2, Com.begin(), Com.end());
    WriteFile(Path, Long);
    TJPEGImage J;
    J.LoadFromFile(Path.string());
    EXPECT_EQ(J.Width(), 1000);
    EXPECT_EQ(Mismatches(*J.Bitmap(), Full), 0);
    EXPECT_EQ(Saved(J), Long);
    // Not a JPEG file: the error of the whole file, the graphic unchanged.
    WriteFile(Path, std::vector<std::uint8_t>(300000, 0));
    EXPECT_EQ(ErrorOf([&] { J.LoadFromFile(Path.string()); }), "JPEG error #53");
    EXPECT_EQ(Saved(J), Long);
  }
  std::filesystem::remove(Path);
  EXPECT_NE(ErrorOf([&] { TJPEGImage().LoadFromFile(Path.string()); }), "");
}

}  // namespace
