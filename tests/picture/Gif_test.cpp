#include "picture/gif/Gif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "picture/decoding/BackgroundDecode.h"
#include "picture/FileFormats.h"
#include "support/GraphicTests.h"
#include "support/GifFiles.h"
#include "toolkit/Timer.h"

namespace {

class GifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeGifSupport();
    SetTimerScheduler(&FClock);
  }
  void TearDown() override {
    SetTimerScheduler(nullptr);
    FinalizeGifSupport();
  }
  static std::unique_ptr<TGifImage> Load(const std::vector<std::uint8_t>& Bytes) { return LoadGraphic<TGifImage>(Bytes); }
  // The graphic drawn at its own size over Background: pixel (X, Y) as 0x00RRGGBB.
  static std::uint32_t Shown(TGraphic& G, int X, int Y, TColor Background = clWhite) {
    TBitmap B(G.Width(), G.Height());
    B.Canvas().Brush().Color = Background;
    B.Canvas().FillRect(Rect(0, 0, G.Width(), G.Height()));
    G.DrawInto(B.Canvas(), Rect(0, 0, G.Width(), G.Height()));
    return B.View().PixelAt(X, Y) & 0xFFFFFF;
  }

  TManualTimerScheduler FClock;
};

TGifFrameSpec Whole(int W, int H, std::function<int(int, int)> Index) {
  TGifFrameSpec F;
  F.Width = W;
  F.Height = H;
  F.Index = std::move(Index);
  return F;
}

TEST_F(GifTest, StillPicturesDecodeExactlyWithTheirTransparentColour) {
  for (bool Interlaced : {false, true}) {
    SCOPED_TRACE(Interlaced);
    TGifFileSpec S;
    S.Width = 10;
    S.Height = 19;
    S.Frames.push_back(Whole(10, 19, [](int X, int Y) { return (X + Y) % 4; }));
    S.Frames[0].Interlaced = Interlaced;
    S.Frames[0].TransparentIndex = 3;
    auto G = Load(MakeGif(S));
    EXPECT_EQ(G->Width(), 10);
    EXPECT_EQ(G->Height(), 19);
    int Wrong = 0;
    const std::uint32_t Expected[4] = {0x000000, 0xFF0000, 0x00FF00, 0x00FF00 /* lime below */};
    TBitmap B(10, 19);
    B.Canvas().Brush().Color = clLime;
    B.Canvas().FillRect(Rect(0, 0, 10, 19));
    G->DrawInto(B.Canvas(), Rect(0, 0, 10, 19));
    for (int Y = 0; Y < 19; ++Y)
      for (int X = 0; X < 10; ++X) Wrong += (B.View().PixelAt(X, Y) & 0xFFFFFF) != Expected[(X + Y) % 4];
    EXPECT_EQ(Wrong, 0);
    EXPECT_EQ(G->FrameCount(), 1);
    EXPECT_FALSE(G->Animating());
  }
}

// Three frames over a 4 x 1 canvas, each setting one more pixel, with the
// given disposal of the middle frame.
std::vector<std::uint8_t> ThreeFrames(int MiddleDisposal, int Loops, int DelayCs = 10) {
  TGifFileSpec S;
  S.Width = 4;
  S.Height = 1;
  S.Loops = Loops;
  S.Frames.push_back(Whole(4, 1, [](int X, int) { return X == 0 ? 1 : 0; }));
  TGifFrameSpec Second = Whole(1, 1, [](int, int) { return 2; });
  Second.Left = 1;
  Second.Disposal = MiddleDisposal;
  S.Frames.push_back(Second);
  TGifFrameSpec Third = Whole(1, 1, [](int, int) { return 3; });
  Third.Left = 2;
  S.Frames.push_back(Third);
  for (auto& F : S.Frames) F.DelayCs = DelayCs;
  return MakeGif(S);
}

TEST_F(GifTest, FramesFollowTheirDisposalAndReportTheChangedArea) {
  struct TCase {
    const char* Name;
    int Disposal;
    std::uint32_t Third[4];  // the canvas with the third frame
  } Cases[] = {
      {"keep", DISPOSE_DO_NOT, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000}},
      {"background: transparent, what is below shows", DISPOSE_BACKGROUND, {0xFF0000, 0xFFFFFF, 0x0000FF, 0x000000}},
      {"previous", DISPOSE_PREVIOUS, {0xFF0000, 0x000000, 0x0000FF, 0x000000}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto G = Load(ThreeFrames(C.Disposal, 0));
    std::vector<TRect> Changes;
    G->OnFrame = [&](TObject* Sender, const TRect& R) {
      EXPECT_EQ(Sender, G.get());
      Changes.push_back(R);
    };
    EXPECT_EQ(Shown(*G, 0, 0), 0xFF0000u);
    EXPECT_EQ(G->FrameCount(), 3);
    EXPECT_TRUE(G->Animating());
    FClock.Advance(99);
    EXPECT_TRUE(Changes.empty());
    FClock.Advance(1);
    ASSERT_EQ(Changes.size(), 1u);
    EXPECT_EQ(Changes[0], Rect(1, 0, 2, 1));
    EXPECT_EQ(Shown(*G, 1, 0), 0x00FF00u);
    FClock.Advance(100);
    ASSERT_EQ(Changes.size(), 2u);
    // The disposed area and the new frame.
    EXPECT_EQ(Changes[1], C.Disposal == DISPOSE_DO_NOT ? Rect(2, 0, 3, 1) : Rect(1, 0, 3, 1));
    for (int X = 0; X < 4; ++X) EXPECT_EQ(Shown(*G, X, 0), C.Third[X]) << X;
    // For ever: back to the first frame, the whole picture changed.
    FClock.Advance(100);
    ASSERT_EQ(Changes.size(), 3u);
    EXPECT_EQ(Changes[2], Rect(0, 0, 4, 1));
    EXPECT_EQ(G->FrameIndex(), 0);
    EXPECT_EQ(Shown(*G, 1, 0), 0x000000u);
  }
}

TEST_F(GifTest, LoopCountAndShortDelaysAreHonoured) {
  struct TCase {
    int Loops;
    int DelayCs;
    int Ticks;      // frame changes seen in 10 s
    int LastFrame;  // where it stops
  } Cases[] = {
      {-1, 10, 2, 2},   // no loop block: played once
      {2, 10, 8, 2},    // two more plays after the first: 3 plays
      {-1, 1, 2, 2},    // 10 ms counts as 100 ms
      {0, 1, 100, 1},   // for ever, 100 ms per frame
      {0, 50, 20, 2},   // for ever, 500 ms per frame
      {0, 2, 500, 2},   // for ever, 20 ms per frame: the shortest kept
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Loops << " " << C.DelayCs);
    auto G = Load(ThreeFrames(DISPOSE_DO_NOT, C.Loops, C.DelayCs));
    int Ticks = 0;
    std::vector<std::uint64_t> Times;
    const std::uint64_t Start = FClock.Now();
    G->OnFrame = [&](TObject*, const TRect&) {
      ++Ticks;
      Times.push_back(FClock.Now() - Start);
    };
    Shown(*G, 0, 0);
    FClock.Advance(10000);
    EXPECT_EQ(Ticks, C.Ticks);
    EXPECT_EQ(G->FrameIndex(), C.LastFrame);
    EXPECT_EQ(Times.front(), static_cast<std::uint64_t>(C.DelayCs < 2 ? 100 : C.DelayCs * 10));
    EXPECT_EQ(G->Animating(), C.Loops == 0);
  }
}

// A frame without a graphic-control block takes none of the previous
// frame's: its index 0 is opaque and it stays the default 100 ms.
TEST_F(GifTest, ControlBlockAppliesToItsOwnFrameOnly) {
  TGifFileSpec S;
  S.Width = 2;
  S.Height = 1;
  S.Loops = 0;
  S.Frames.push_back(Whole(2, 1, [](int X, int) { return X == 0 ? 1 : 0; }));
  S.Frames[0].TransparentIndex = 0;
  S.Frames[0].DelayCs = 50;
  S.Frames.push_back(Whole(2, 1, [](int X, int) { return X == 0 ? 0 : 2; }));
  S.Frames[1].Control = false;
  auto G = Load(MakeGif(S));
  EXPECT_EQ(Shown(*G, 1, 0), 0xFFFFFFu);
  FClock.Advance(500);
  ASSERT_EQ(G->FrameIndex(), 1);
  EXPECT_EQ(Shown(*G, 0, 0), 0x000000u);
  FClock.Advance(100);
  EXPECT_EQ(G->FrameIndex(), 0);
}

TEST_F(GifTest, AnimationOffShowsTheFirstFrameOnly) {
  auto G = Load(ThreeFrames(DISPOSE_DO_NOT, 0));
  Shown(*G, 0, 0);
  FClock.Advance(150);
  ASSERT_EQ(G->FrameIndex(), 1);
  int Frames = 0;
  G->OnFrame = [&](TObject*, const TRect&) { ++Frames; };
  G->SetAnimate(false);
  EXPECT_EQ(Frames, 1);
  EXPECT_EQ(G->FrameIndex(), 0);
  EXPECT_EQ(Shown(*G, 1, 0), 0x000000u);
  FClock.Advance(1000);
  EXPECT_EQ(Frames, 1);
  EXPECT_EQ(FClock.Running(), 0u);
  // Set before the first drawing, the animation never starts.
  auto H = Load(ThreeFrames(DISPOSE_DO_NOT, 0));
  H->SetAnimate(false);
  Shown(*H, 0, 0);
  EXPECT_FALSE(H->Animating());
  EXPECT_EQ(H->FrameCount(), 3);
}

TEST_F(GifTest, StoredFormAndCopiesKeepEveryFrame) {
  const auto Bytes = ThreeFrames(DISPOSE_DO_NOT, 0);
  TPicture A;
  A.SetGraphic(Load(Bytes));
  TMemoryStream S;
  A.WriteStored(S);
  S.SetPosition(0);
  TPicture B;
  B.ReadStored(S);
  TPicture C;
  C.CopyFrom(&B);
  for (TPicture* P : {&B, &C}) {
    auto* G = dynamic_cast<TGifImage*>(P->Graphic());
    ASSERT_TRUE(G);
    Shown(*G, 0, 0);
    EXPECT_EQ(G->FrameCount(), 3);
  }
  FClock.Advance(200);
  EXPECT_EQ(Shown(*C.Graphic(), 2, 0), 0x0000FFu);
}

TEST_F(GifTest, DamagedAndCutFiles) {
  // Indices that compress badly, so that the data spans many of the file's 255-byte blocks.
  auto Index = [](int X, int Y) { return static_cast<int>((static_cast<unsigned>(X * 7919 + Y * 104729) * 2654435761u) >> 30); };
  TGifFileSpec S;
  S.Width = 64;
  S.Height = 256;
  S.Frames.push_back(Whole(64, 256, Index));
  const auto Good = MakeGif(S);
  // Header errors come at load and leave the graphic as it was.
  auto G = Load(Good);
  std::vector<std::uint8_t> Huge = Good;
  Huge[6] = 0xFF, Huge[7] = 0xFF, Huge[8] = 0xFF, Huge[9] = 0xFF;
  EXPECT_EQ(ErrorOf([&] { G->LoadFromStream(*TMemoryStream::Over(Huge)); }), "GIF image is too large (65535 x 65535)");
  const std::vector<std::uint8_t> Png{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  EXPECT_EQ(ErrorOf([&] { G->LoadFromStream(*TMemoryStream::Over(Png)); }).rfind("GIF image is not valid (", 0), 0u);
  EXPECT_EQ(G->Width(), 64);
  // Cut inside the first frame: the rows read show, the rest what is below, no error.
  auto Cut = Load({Good.begin(), Good.begin() + static_cast<std::ptrdiff_t>(Good.size() / 2)});
  std::string Error = ErrorOf([&] { Shown(*Cut, 0, 0); });
  EXPECT_EQ(Error, "");
  const std::uint32_t Colors[4] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  EXPECT_EQ(Shown(*Cut, 5, 2, clLime), Colors[Index(5, 2)]);
  EXPECT_EQ(Shown(*Cut, 5, 255, clLime), 0x00FF00u);
  // A file that ends before its first frame fails at the first drawing, once.
  auto Empty = Load({Good.begin(), Good.begin() + 13 + 12});
  Error = ErrorOf([&] { Shown(*Empty, 0, 0); });
  EXPECT_EQ(Error.rfind("GIF image is not valid (", 0), 0u) << Error;
  EXPECT_EQ(ErrorOf([&] { Shown(*Empty, 0, 0); }), "");
}

// Where the image descriptor of the frame at Left, Top starts.
std::size_t DescriptorAt(const std::vector<std::uint8_t>& B, int Left, int Top) {
  const std::uint8_t Key[5] = {0x2C, static_cast<std::uint8_t>(Left), static_cast<std::uint8_t>(Left >> 8),
                               static_cast<std::uint8_t>(Top), static_cast<std::uint8_t>(Top >> 8)};
  return static_cast<std::size_t>(std::search(B.begin(), B.end(), Key, Key + 5) - B.begin());
}

// Data that cannot be decoded, of frames wholly off the canvas or below its
// last row, is passed over: the frames after them are kept.
TEST_F(GifTest, DataOffTheCanvasIsPassedOverUndecoded) {
  TGifFileSpec S;
  S.Frames = {Whole(16, 12, [](int, int) { return 1; }), Whole(16, 12, [](int, int) { return 2; }),
              Whole(16, 1, [](int, int) { return 3; }), Whole(16, 12, [](int, int) { return 3; })};
  S.Frames[1].Left = 100;
  S.Frames[2].Top = 11;
  auto Bytes = MakeGif(S);
  // The frame off the canvas loses all its data blocks.
  const std::size_t Off = DescriptorAt(Bytes, 100, 0) + 11;
  std::size_t End = Off;
  while (Bytes[End]) End += Bytes[End] + 1u;
  Bytes.erase(Bytes.begin() + static_cast<std::ptrdiff_t>(Off), Bytes.begin() + static_cast<std::ptrdiff_t>(End));
  // The frame on the last row is made 40 rows high: its data ends after its first.
  Bytes[DescriptorAt(Bytes, 0, 11) + 7] = 40;
  auto G = Load(Bytes);
  EXPECT_EQ(ErrorOf([&] { Shown(*G, 0, 0); }), "");
  EXPECT_EQ(G->FrameCount(), 4);
  FClock.Advance(300);
  EXPECT_EQ(Shown(*G, 5, 5), 0x0000FFu);
}

// A decode on a worker that was cancelled stops reading frames at once.
TEST_F(GifTest, CancelledDecodeStopsReadingFrames) {
  struct TWorkerCopy : TGifImage {
    void DecodeCancelled() {
      const std::atomic<bool> Cancel{true};
      DecodeForBackground(Cancel);
    }
  };
  TGifFileSpec S;
  S.Frames = {Whole(16, 12, [](int, int) { return 1; })};
  TWorkerCopy G;
  G.LoadFromStream(*TMemoryStream::Over(MakeGif(S)));
  EXPECT_THROW(G.DecodeCancelled(), EDecodeCancelled);
}

TEST_F(GifTest, JoinsTheDialogFilter) {
  const std::string Filter = TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass());
  EXPECT_EQ(Filter.rfind("All (*.gif;", 0), 0u) << Filter;
  EXPECT_NE(Filter.find("|GIF Image File (*.gif)|*.gif|"), std::string::npos);
}

}  // namespace
