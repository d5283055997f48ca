// Decoding on a worker thread for the graphics a format library decodes
// (PNG, GIF, WebP, TIFF, AVIF, HEIF): the same pixels and notifications as a
// decode at drawing, cancellation, a failure raised once, reads that wait.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "picture/decoding/BackgroundDecode.h"
#include "picture/avif/Avif.h"
#include "picture/gif/Gif.h"
#include "picture/heif/Heif.h"
#include "picture/png/Png.h"
#include "picture/tiff/Tiff.h"
#include "picture/webp/Webp.h"
#include "support/BackgroundTesting.h"
#include "support/GifFiles.h"
#include "support/PhotoFiles.h"
#include "support/PhotoHeif.h"
#include "support/PhotoTiff.h"
#include "support/PngFiles.h"
#include "support/WebpFiles.h"
#include "toolkit/Timer.h"

namespace {

struct TFormatCase {
  const char* Name;
  std::function<std::unique_ptr<TDecodedGraphic>()> Make;
  std::vector<std::uint8_t> Bytes;
  bool ProgressiveDisplay = false;
};

template <class T>
std::function<std::unique_ptr<TDecodedGraphic>()> Maker() {
  return [] { return std::make_unique<T>(); };
}

std::uint32_t Noise(int X, int Y) { return static_cast<std::uint32_t>((X * 7919 + Y * 104729 + X * Y * 31) & 0xFF); }

std::vector<std::uint8_t> PngFile(bool Interlaced, int ColorType = PNG_COLOR_TYPE_RGB) {
  TPngFileOptions O;
  O.Width = 64;
  O.Height = 400;
  O.Interlaced = Interlaced;
  O.ColorType = ColorType;
  O.Sample = [](int X, int Y, int C) { return (Noise(X, Y) + static_cast<std::uint32_t>(C) * 85) & 0xFF; };
  return MakePng(O);
}

std::vector<std::uint8_t> GifFile() {
  TGifFileSpec S;
  S.Width = 32;
  S.Height = 24;
  S.Loops = 0;
  for (int F = 0; F < 3; ++F) {
    TGifFrameSpec Frame;
    Frame.Left = F * 4;
    Frame.Width = 16;
    Frame.Height = 24;
    Frame.Index = [F](int X, int Y) { return (X + Y + F) % 4; };
    S.Frames.push_back(Frame);
  }
  return MakeGif(S);
}

std::vector<std::uint8_t> TiffFile(std::uint16_t Orientation) {
  TTiffPage P;
  P.Width = 64;
  P.Height = 400;
  P.RowsPerStrip = 4;
  P.Compression = COMPRESSION_LZW;
  P.Orientation = Orientation;
  P.Sample = [](std::uint32_t X, std::uint32_t Y, int K) {
    return (Noise(static_cast<int>(X), static_cast<int>(Y)) + static_cast<std::uint32_t>(K) * 60) & 0xFF;
  };
  return MakeTiff(P);
}

TPhotoStill Still(bool Alpha, int Orientation) {
  TPhotoStill P;
  P.Alpha = Alpha;
  P.Orientation = Orientation;
  P.Pixel = [](std::uint32_t X, std::uint32_t Y) {
    return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(X * 4), static_cast<std::uint8_t>(Y * 5), 90,
                                       static_cast<std::uint8_t>(255 - X)};
  };
  return P;
}

std::vector<TFormatCase> Cases() {
  const auto Webp = [](int X, int Y) { return 0xFF000000u | Noise(X, Y) << 16 | Noise(Y, X) << 8 | 0x40; };
  return {
      {"PNG", Maker<TPngImage>(), PngFile(false)},
      {"PNG with alpha", Maker<TPngImage>(), PngFile(false, PNG_COLOR_TYPE_RGBA)},
      {"PNG interlaced, shown pass by pass", Maker<TPngImage>(), PngFile(true), true},
      {"GIF animation", Maker<TGifImage>(), GifFile()},
      {"WebP", Maker<TWebPImage>(), MakeWebp(300, 300, Webp, 90, false)},
      {"WebP animation", Maker<TWebPImage>(), MakeAnimatedWebp(32, 24, {{Webp, 100}, {[](int, int) { return 0xFF0000FFu; }, 100}}, 0)},
      {"WebP animation turned", Maker<TWebPImage>(),
       WithWebpChunk(MakeAnimatedWebp(32, 24, {{Webp, 100}, {[](int X, int) { return X < 9 ? 0xFF0000FFu : 0xFF00FF00u; }, 100}}, 0),
                     "EXIF", MakeExif(6, false, false))},
      {"TIFF", Maker<TTIFFImage>(), TiffFile(0)},
      {"TIFF turned", Maker<TTIFFImage>(), TiffFile(6)},
      {"AVIF", Maker<TAVIFImage>(), MakeAvif(Still(true, 1))},
      {"HEIF turned", Maker<THEIFImage>(), MakeHeif(Still(false, 6))},
  };
}

class BackgroundFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetTimerScheduler(&FTimers); }
  void TearDown() override {
    SetTimerScheduler(nullptr);
    SetExceptionHandler(nullptr);
  }

  std::unique_ptr<TDecodedGraphic> Load(const TFormatCase& C, const std::vector<std::uint8_t>& Bytes, TClock& Clock,
                                        std::vector<TNoteRecord>& Notes) {
    auto G = C.Make();
    auto S = TMemoryStream::Over(Bytes);
    G->LoadFromStream(*S);
    G->SetProgressiveDisplay(C.ProgressiveDisplay);
    G->SetTickSource([&Clock] { return Clock.Read(); });
    G->OnProgress = [&Notes](TObject*, TProgressStage Stage, std::uint8_t Percent, bool Redraw, const TRect& R,
                             const std::string&) { Notes.push_back({Stage, Percent, Redraw, R}); };
    G->OnChange = [this](TObject*) { ++FChanges; };
    return G;
  }

  TManualTimerScheduler FTimers;
  int FChanges = 0;
};

TEST_F(BackgroundFormatsTest, GiveThePixelsAndNotificationsOfTheDecodeAtDrawing) {
  for (const TFormatCase& C : Cases()) {
    SCOPED_TRACE(C.Name);
    TClock SyncClock, BackClock;
    std::vector<TNoteRecord> SyncNotes, BackNotes;
    auto Sync = Load(C, C.Bytes, SyncClock, SyncNotes);
    auto Back = Load(C, C.Bytes, BackClock, BackNotes);
    ASSERT_TRUE(Back->NeedsDecode());
    const TBitmap* Expected = Sync->Bitmap();
    ASSERT_NE(Expected, nullptr);
    FChanges = 0;
    ExpectBackgroundDecodeGives(*Back, *Expected);
    if (HasFatalFailure()) return;
    EXPECT_EQ(Back->Width(), Sync->Width());
    EXPECT_EQ(Back->Height(), Sync->Height());
    EXPECT_EQ(Back->Transparent(), Sync->Transparent());
    ASSERT_GE(SyncNotes.size(), 2u);
    EXPECT_EQ(BackNotes, SyncNotes);
    EXPECT_EQ(FChanges, 0);
    // An animation plays on this thread's timer, frame for frame as after a decode at drawing.
    EXPECT_EQ(Back->FrameCount(), Sync->FrameCount());
    EXPECT_EQ(Back->Animating(), Sync->Animating());
    if (Sync->FrameCount() > 1) {
      FTimers.Advance(100);
      EXPECT_EQ(Back->FrameIndex(), 1);
      EXPECT_EQ(Sync->FrameIndex(), 1);
      EXPECT_TRUE(SamePixels(*Sync->Bitmap(), *Back->Bitmap()));
    }
  }
}

TEST_F(BackgroundFormatsTest, AbandonedDecodeStopsAndDeliversNothing) {
  for (const TFormatCase& C : Cases()) {
    SCOPED_TRACE(C.Name);
    int Readings = 0;
    {
      TClock Clock;
      std::vector<TNoteRecord> Notes;
      Load(C, C.Bytes, Clock, Notes)->Bitmap();
      Readings = Clock.Readings;
    }
    // Before the worker starts, at the decode's start, mid-way, at the last reading.
    for (int HoldAt : {0, 1, Readings / 2 + 1, Readings}) {
      for (TCancelBy By : {cbFree, cbCancel, cbSetting, cbLoad}) {
        SCOPED_TRACE(testing::Message() << "held at " << HoldAt << ", by " << By);
        TClock Clock;
        Clock.HoldAt = HoldAt;
        std::vector<TNoteRecord> Notes;
        auto G = Load(C, C.Bytes, Clock, Notes);
        StartHeld(*G, Clock);
        ExpectAbandoned(G, By, C.Bytes, [](TDecodedGraphic& D) { D.SetAutoOrientation(false); }, Notes);
        if (G) {
          EXPECT_FALSE(G->Animating());
        }
      }
    }
  }
}

// Where the box of the given type starts in a file of boxes (at the top level).
std::size_t FindBox(const std::vector<std::uint8_t>& B, const char* Type) {
  std::size_t At = 0;
  while (At + 8 <= B.size()) {
    const std::size_t Size = std::size_t{B[At]} << 24 | std::size_t{B[At + 1]} << 16 | B[At + 2] << 8 | B[At + 3];
    if (std::memcmp(&B[At + 4], Type, 4) == 0) return At;
    if (Size < 8) break;
    At += Size;
  }
  return B.size();
}

// Files whose header reads but whose pixels fail.
std::vector<TFormatCase> BrokenCases() {
  std::vector<TFormatCase> Out;
  for (TFormatCase C : Cases()) {
    std::vector<std::uint8_t>& B = C.Bytes;
    const std::string Name = C.Name;
    if (Name == "PNG" || Name == "PNG interlaced, shown pass by pass") {
      // A byte of the pixel data changed: its chunk's check value fails.
      B[B.size() * 2 / 3] ^= 0x55;
    } else if (Name == "TIFF") {
      // The later strips' compressed data damaged.
      const std::uint32_t Ifd = B[4] | B[5] << 8 | B[6] << 16 | static_cast<std::uint32_t>(B[7]) << 24;
      std::fill(B.begin() + static_cast<std::ptrdiff_t>(8 + (Ifd - 8) / 2), B.begin() + Ifd, 0xFF);
    } else if (Name == "AVIF") {
      // The coded picture, which follows the boxes that describe it, cut short.
      B.resize(B.size() - 40);
    } else if (Name == "HEIF turned") {
      // The coded picture's parameter sets (at the start of its data) damaged.
      const std::size_t Mdat = FindBox(B, "mdat");
      std::fill(B.begin() + static_cast<std::ptrdiff_t>(Mdat + 8), B.begin() + static_cast<std::ptrdiff_t>(Mdat + 40), 0xFF);
    } else {
      continue;
    }
    Out.push_back(std::move(C));
  }
  return Out;
}

TEST_F(BackgroundFormatsTest, FailureReachesTheHandlerOnceAndIsKept) {
  for (const TFormatCase& C : BrokenCases()) {
    SCOPED_TRACE(C.Name);
    std::string Expected;
    const TBitmap* SyncPixels = nullptr;
    TClock SyncClock;
    std::vector<TNoteRecord> SyncNotes;
    auto Sync = Load(C, C.Bytes, SyncClock, SyncNotes);
    try {
      Sync->Bitmap();
    } catch (const Exception& E) {
      Expected = E.Message();
    }
    SyncPixels = Sync->Bitmap();
    ASSERT_FALSE(Expected.empty());
    std::vector<std::string> Shown;
    SetExceptionHandler([&](const Exception& E) { Shown.push_back(E.Message()); });
    TClock Clock;
    std::vector<TNoteRecord> Notes;
    auto G = Load(C, C.Bytes, Clock, Notes);
    G->StartBackgroundDecode();
    RunEventsUntil([&] { return !G->BackgroundDecoding(); });
    RunEventsAWhile();
    EXPECT_EQ(Shown, std::vector<std::string>{Expected});
    EXPECT_EQ(Notes, SyncNotes);
    ASSERT_FALSE(Notes.empty());
    EXPECT_EQ(Notes.back().Stage, psEnding);
    EXPECT_EQ(Notes.back().Percent, 0);
    // As after a failed decode at drawing: what decoded is kept and drawn,
    // without another error or decode.
    EXPECT_TRUE(G->Decoded());
    EXPECT_FALSE(G->NeedsDecode());
    EXPECT_TRUE(SamePixels(*SyncPixels, *G->Bitmap()));
    TBitmap Target(2, 2);
    EXPECT_NO_THROW(G->DrawInto(Target.Canvas(), Rect(0, 0, 2, 2)));
    G->StartBackgroundDecode();
    EXPECT_FALSE(G->BackgroundDecoding());
    EXPECT_EQ(Shown.size(), 1u);
  }
}

TEST_F(BackgroundFormatsTest, FullResolutionReadsDuringTheDecodeGetTheWholePicture) {
  for (const TFormatCase& C : Cases()) {
    SCOPED_TRACE(C.Name);
    TClock SyncClock, Clock;
    std::vector<TNoteRecord> SyncNotes, Notes;
    auto Sync = Load(C, C.Bytes, SyncClock, SyncNotes);
    const TBitmap* Expected = Sync->Bitmap();
    Clock.HoldAt = SyncClock.Readings / 2 + 1;
    auto G = Load(C, C.Bytes, Clock, Notes);
    StartHeld(*G, Clock);
    // A copy made now holds the same file and decodes the same picture.
    auto Copy = C.Make();
    Copy->Assign(G.get());
    const TBitmap* B = G->Bitmap();
    ASSERT_NE(B, nullptr);
    EXPECT_TRUE(SamePixels(*Expected, *B));
    EXPECT_EQ(Notes, SyncNotes);
    RunEventsAWhile();
    EXPECT_EQ(Notes, SyncNotes);
    EXPECT_TRUE(SamePixels(*Expected, *Copy->Bitmap()));
    // The stored form is the file, whatever the decode's state.
    TMemoryStream Saved;
    G->WriteData(Saved);
    EXPECT_EQ(Saved.Size(), static_cast<std::int64_t>(C.Bytes.size() + 4));
  }
}

// With progressive display, the rows decoded so far are shown while the
// worker decodes: at each notification that asks for a repaint the preview is
// the picture as a decode at drawing showed it at that notification or a later one.
TEST_F(BackgroundFormatsTest, PreviewShowsTheRowsDecodedSoFar) {
  for (const TFormatCase& C : Cases()) {
    const std::string Name = C.Name;
    if (Name != "PNG" && Name != "PNG interlaced, shown pass by pass" && Name != "TIFF" && Name != "TIFF turned")
      continue;
    for (bool Progressive : {true, false}) {
      SCOPED_TRACE(testing::Message() << C.Name << (Progressive ? ", shown" : ", not shown"));
      TFormatCase Shown = C;
      Shown.ProgressiveDisplay = Progressive;
      TClock SyncClock, Clock;
      std::vector<TNoteRecord> SyncNotes, Notes;
      auto Sync = Load(Shown, C.Bytes, SyncClock, SyncNotes);
      std::vector<std::unique_ptr<TBitmap>> SyncShown;
      Sync->OnProgress = [&](TObject*, TProgressStage Stage, std::uint8_t, bool Redraw, const TRect&,
                             const std::string&) {
        if (Stage != psRunning || !Redraw) return;
        SyncShown.push_back(std::make_unique<TBitmap>());
        SyncShown.back()->Assign(Sync->Bitmap());
      };
      const TBitmap* Final = Sync->Bitmap();
      auto G = Load(Shown, C.Bytes, Clock, Notes);
      std::vector<std::unique_ptr<TBitmap>> Previews;
      std::vector<TRect> Bands;
      int Missing = 0;
      G->OnProgress = [&](TObject*, TProgressStage Stage, std::uint8_t, bool Redraw, const TRect& R,
                          const std::string&) {
        if (Stage != psRunning || !Redraw) return;
        const TBitmap* P = G->BackgroundPreview();
        if (!P) {
          ++Missing;
          return;
        }
        Previews.push_back(std::make_unique<TBitmap>());
        Previews.back()->Assign(P);
        Bands.push_back(R);
      };
      G->StartBackgroundDecode();
      RunEventsUntil([&] { return !G->BackgroundDecoding(); });
      EXPECT_EQ(G->BackgroundPreview(), nullptr);  // gone with the decode
      if (!Progressive) {
        EXPECT_TRUE(Previews.empty());
        continue;
      }
      ASSERT_GE(SyncShown.size(), 2u);
      EXPECT_EQ(Missing, 0);
      ASSERT_EQ(Previews.size(), SyncShown.size());
      std::size_t J = 0;
      for (std::size_t I = 0; I < Previews.size(); ++I) {
        SCOPED_TRACE(I);
        J = std::max(J, I);
        while (J < SyncShown.size() && !SamePixels(*Previews[I], *SyncShown[J])) ++J;
        EXPECT_LT(J, SyncShown.size());
        // The rows of the band notified are the final picture's, once a pass is whole or in a single pass.
        const TRect& R = Bands[I];
        if (Name == "PNG" || Name == "TIFF") {
          const auto Bytes = static_cast<std::size_t>(Final->Width()) * Final->BitsPerPixel() / 8;
          for (std::int32_t Y = 0; Y < R.Bottom; ++Y)
            ASSERT_EQ(std::memcmp(Previews[I]->ScanLine(Y), Final->ScanLine(Y), Bytes), 0) << Y;
        }
      }
    }
  }
}

}  // namespace
