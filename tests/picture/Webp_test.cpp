#include "picture/webp/Webp.h"

#include <gtest/gtest.h>

#include <webp/decode.h>

#include "picture/FileFormats.h"
#include "support/GraphicTests.h"
#include "support/PhotoFiles.h"
#include "support/WebpFiles.h"
#include "toolkit/Timer.h"

namespace {

class WebpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeWebpSupport();
    SetTimerScheduler(&FClock);
  }
  void TearDown() override {
    SetTimerScheduler(nullptr);
    FinalizeWebpSupport();
  }
  static std::unique_ptr<TWebPImage> Load(const std::vector<std::uint8_t>& Bytes) { return LoadGraphic<TWebPImage>(Bytes); }
  static std::uint32_t At(const TBitmap& B, int X, int Y) { return B.View().PixelAt(X, Y) & 0xFFFFFF; }

  TManualTimerScheduler FClock;
};

std::uint32_t Pattern(int X, int Y) {
  return 0xFF000000u | static_cast<std::uint32_t>((X * 9) & 0xFF) << 16 | static_cast<std::uint32_t>((Y * 5) & 0xFF) << 8 |
         static_cast<std::uint32_t>((X * Y) & 0xFF);
}

TEST_F(WebpTest, StillPicturesDecodeAsTheLibraryDoesWithAlphaBlended) {
  const int W = 37, H = 23;
  const int Bg[3] = {0, 255, 0};  // lime
  struct TCase {
    const char* Name;
    float Quality;
    bool Alpha;
  } Cases[] = {{"lossless", -1, false}, {"lossless with alpha", -1, true}, {"lossy", 80, false}, {"lossy with alpha", 80, true}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto Pixel = [&](int X, int Y) { return C.Alpha ? (Pattern(X, Y) & 0xFFFFFF) | std::uint32_t((X * 7) & 0xFF) << 24 : Pattern(X, Y); };
    const auto Bytes = MakeWebp(W, H, Pixel, C.Quality, C.Alpha);
    auto G = Load(Bytes);
    EXPECT_EQ(G->Width(), W);
    EXPECT_EQ(G->Height(), H);
    EXPECT_EQ(G->Transparent(), C.Alpha);
    // The library's own decode (unpremultiplied RGBA) is the reference.
    int Rw = 0, Rh = 0;
    std::uint8_t* Ref = WebPDecodeRGBA(Bytes.data(), Bytes.size(), &Rw, &Rh);
    ASSERT_TRUE(Ref);
    const auto B = DrawOver(*G, clLime);
    int Wrong = 0;
    for (int Y = 0; Y < H; ++Y)
      for (int X = 0; X < W; ++X) {
        const std::uint8_t* R = Ref + (Y * W + X) * 4;
        const std::uint32_t Got = At(*B, X, Y);
        for (int K = 0; K < 3; ++K) {
          const int Expected = (R[K] * R[3] + Bg[K] * (255 - R[3]) + 127) / 255;
          Wrong += std::abs(static_cast<int>((Got >> (16 - 8 * K)) & 0xFF) - Expected) > (C.Alpha ? 1 : 0);
        }
        // Lossless keeps the pixels themselves.
        if (C.Quality < 0 && !C.Alpha) Wrong += Got != (Pattern(X, Y) & 0xFFFFFF);
      }
    WebPFree(Ref);
    EXPECT_EQ(Wrong, 0);
  }
}

// An animation with an EXIF orientation shows every frame turned, reports
// the changed areas turned, and shows as stored with the orientation off.
TEST_F(WebpTest, AnimationsFollowTheirOrientation) {
  const std::vector<TWebpFrame> Frames = {
      {[](int, int) { return 0xFFFF0000u; }, 200},
      {[](int X, int Y) { return X >= 4 && X < 8 && Y >= 4 && Y < 8 ? 0xFF0000FFu : 0xFFFF0000u; }, 200},
  };
  for (int O : {3, 6, 7}) {
    SCOPED_TRACE(O);
    const auto Or = static_cast<TOrientation>(O);
    auto G = Load(WithWebpChunk(MakeAnimatedWebp(16, 12, Frames, 0), "EXIF", MakeExif(O, false, false)));
    EXPECT_EQ(G->Orientation(), Or);
    const TPoint Size = OrientedSize(Or, 16, 12);
    EXPECT_EQ(G->Width(), Size.X);
    EXPECT_EQ(G->Height(), Size.Y);
    std::vector<TRect> Changes;
    G->OnFrame = [&](TObject*, const TRect& R) { Changes.push_back(R); };
    const TPoint In = OrientedPoint(Or, 16, 12, 5, 6), Out = OrientedPoint(Or, 16, 12, 3, 9);
    auto Shown = DrawOver(*G, clLime);
    ASSERT_EQ(Shown->Width(), Size.X);
    ASSERT_EQ(Shown->Height(), Size.Y);
    EXPECT_EQ(At(*Shown, In.X, In.Y), 0xFF0000u);
    FClock.Advance(200);
    ASSERT_EQ(Changes.size(), 1u);
    Shown = DrawOver(*G, clLime);
    EXPECT_EQ(At(*Shown, In.X, In.Y), 0x0000FFu);
    EXPECT_EQ(At(*Shown, Out.X, Out.Y), 0xFF0000u);
    // The blue square's stored corners lie in the changed area, turned.
    for (const TPoint P : {TPoint{4, 4}, TPoint{7, 7}}) {
      const TPoint D = OrientedPoint(Or, 16, 12, P.X, P.Y);
      const TRect& R = Changes[0];
      EXPECT_TRUE(D.X >= R.Left && D.X < R.Right && D.Y >= R.Top && D.Y < R.Bottom) << D.X << "," << D.Y;
    }
    EXPECT_LE(Changes[0].Right, Size.X);
    EXPECT_LE(Changes[0].Bottom, Size.Y);
    // Turned off: the frames as stored, starting again from the first.
    G->SetAutoOrientation(false);
    EXPECT_EQ(G->Width(), 16);
    Shown = DrawOver(*G, clLime);
    ASSERT_EQ(Shown->Width(), 16);
    EXPECT_EQ(At(*Shown, 5, 6), 0xFF0000u);
    FClock.Advance(200);
    EXPECT_EQ(At(*DrawOver(*G, clLime), 5, 6), 0x0000FFu);
  }
}

TEST_F(WebpTest, AnimationsPlayTheirFramesOnTheTimer) {
  // Frame 0 red everywhere; frame 1 a blue square at (4, 4)-(8, 8); frame 2
  // a half-transparent left half.
  std::vector<TWebpFrame> Frames = {
      {[](int, int) { return 0xFFFF0000u; }, 200},
      {[](int X, int Y) { return X >= 4 && X < 8 && Y >= 4 && Y < 8 ? 0xFF0000FFu : 0xFFFF0000u; }, 10},
      {[](int X, int) { return X < 8 ? 0x00000000u : 0xFFFF0000u; }, 300},
  };
  auto G = Load(MakeAnimatedWebp(16, 12, Frames, 2));
  EXPECT_TRUE(G->Transparent());
  std::vector<std::pair<std::uint64_t, TRect>> Changes;
  const std::uint64_t Start = FClock.Now();
  G->OnFrame = [&](TObject*, const TRect& R) { Changes.push_back({FClock.Now() - Start, R}); };
  EXPECT_EQ(At(*DrawOver(*G, clLime), 5, 5), 0xFF0000u);
  EXPECT_EQ(G->FrameCount(), 3);
  FClock.Advance(200);
  ASSERT_EQ(Changes.size(), 1u);
  EXPECT_EQ(At(*DrawOver(*G, clLime), 5, 5), 0x0000FFu);
  EXPECT_EQ(At(*DrawOver(*G, clLime), 3, 3), 0xFF0000u);
  // The second frame's 10 ms count as 100 ms.
  FClock.Advance(99);
  EXPECT_EQ(Changes.size(), 1u);
  FClock.Advance(1);
  ASSERT_EQ(Changes.size(), 2u);
  EXPECT_EQ(At(*DrawOver(*G, clLime), 3, 3), 0x00FF00u);
  EXPECT_EQ(At(*DrawOver(*G, clLime), 12, 3), 0xFF0000u);
  // Two plays, then it stays on the last frame.
  FClock.Advance(10000);
  EXPECT_EQ(Changes.size(), 5u);
  EXPECT_EQ(G->FrameIndex(), 2);
  EXPECT_FALSE(G->Animating());
  // Stored and copied, every frame stays.
  TPicture P;
  P.SetGraphic(std::move(G));
  TMemoryStream S;
  P.WriteStored(S);
  S.SetPosition(0);
  TPicture Q;
  Q.ReadStored(S);
  ASSERT_TRUE(Q.Graphic() && Q.Graphic()->Is<TWebPImage>());
  DrawOver(*Q.Graphic(), clLime);
  EXPECT_EQ(static_cast<TWebPImage*>(Q.Graphic())->FrameCount(), 3);
}

TEST_F(WebpTest, CutAndDamagedFiles) {
  const int W = 64, H = 256;
  auto Noise = [](int X, int Y) {
    return 0xFF000000u | ((static_cast<unsigned>(X * 7919 + Y * 104729) * 2654435761u) >> 8);
  };
  const auto Good = MakeWebp(W, H, Noise, 90, false);
  auto G = Load(Good);
  // Header errors at load, the graphic left as it was.
  const std::vector<std::uint8_t> Png{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  EXPECT_EQ(ErrorOf([&] { G->LoadFromStream(*TMemoryStream::Over(Png)); }).rfind("WebP image is not valid (", 0), 0u);
  EXPECT_EQ(ErrorOf([&] { G->LoadFromStream(*TMemoryStream::Over(std::vector<std::uint8_t>{})); }).rfind("WebP image is not valid (", 0), 0u);
  EXPECT_EQ(G->Width(), W);
  // Cut: the rows decoded show, the rest what is below, no error.
  auto Cut = Load({Good.begin(), Good.begin() + static_cast<std::ptrdiff_t>(Good.size() / 2)});
  EXPECT_EQ(ErrorOf([&] { DrawOver(*Cut, clLime); }), "");
  const auto B = DrawOver(*Cut, clLime);
  EXPECT_NE(At(*B, 3, 2), 0x00FF00u);
  EXPECT_EQ(At(*B, 3, H - 1), 0x00FF00u);
  EXPECT_TRUE(Cut->Transparent());
}

TEST_F(WebpTest, JoinsTheDialogFilter) {
  const std::string Filter = TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass());
  EXPECT_EQ(Filter.rfind("All (*.webp;", 0), 0u) << Filter;
  EXPECT_NE(Filter.find("|WebP Image File (*.webp)|*.webp|"), std::string::npos);
}

}  // namespace
