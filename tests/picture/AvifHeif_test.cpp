// The phone formats: AVIF (libavif) and HEIF (libheif).
#include <gtest/gtest.h>

#include <cstdlib>

#include "picture/avif/Avif.h"
#include "picture/heif/Heif.h"
#include "support/PhotoFiles.h"
#include "support/PhotoHeif.h"
#include "support/PhotoTesting.h"

namespace {

template <class T>
std::unique_ptr<TDecodedGraphic> Load(const std::vector<std::uint8_t>& Bytes) {
  return LoadPhoto<T>(Bytes);
}

constexpr std::uint32_t Colors[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};  // TL, TR, BL, BR

TPhotoStill Quadrants(int Orientation = 1) {
  TPhotoStill P;
  P.Orientation = Orientation;
  P.Pixel = [](std::uint32_t X, std::uint32_t Y) {
    const std::uint32_t C = Colors[(Y >= 24 ? 2 : 0) + (X >= 32 ? 1 : 0)];
    return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(C >> 16), static_cast<std::uint8_t>(C >> 8),
                                       static_cast<std::uint8_t>(C), 255};
  };
  return P;
}

struct TFormat {
  const char* Name;
  std::function<std::vector<std::uint8_t>(const TPhotoStill&)> Make;
  std::function<std::unique_ptr<TDecodedGraphic>(const std::vector<std::uint8_t>&)> Load;
  const char* ErrorStart;
};

const TFormat Formats[] = {
    {"AVIF", [](const TPhotoStill& P) { return MakeAvif(P); }, Load<TAVIFImage>, "AVIF image is not valid ("},
    {"HEIC", [](const TPhotoStill& P) { return MakeHeif(P); }, Load<THEIFImage>, "HEIF image is not valid ("},
};

TEST(PhoneFormats, OrientationTurnsThePictureAndItsSize) {
  enum { TL, TR, BL, BR };
  const int Expected[9][4] = {{},
                              {TL, TR, BL, BR}, {TR, TL, BR, BL}, {BR, BL, TR, TL}, {BL, BR, TL, TR},
                              {TL, BL, TR, BR}, {BL, TL, BR, TR}, {BR, TR, BL, TL}, {TR, BR, TL, BL}};
  for (const TFormat& F : Formats)
    for (int O = 1; O <= 8; ++O) {
      SCOPED_TRACE(::testing::Message() << F.Name << ", orientation " << O);
      auto G = F.Load(F.Make(Quadrants(O)));
      const int W = O >= 5 ? 48 : 64, H = O >= 5 ? 64 : 48;
      EXPECT_EQ(G->Width(), W);  // before the decode
      EXPECT_EQ(G->Height(), H);
      const TBitmap* B = G->Bitmap();
      ASSERT_EQ(B->Width(), W);
      ASSERT_EQ(B->Height(), H);
      const TPoint Corners[4] = {{2, 2}, {W - 3, 2}, {2, H - 3}, {W - 3, H - 3}};
      for (int K = 0; K < 4; ++K)
        EXPECT_TRUE(Near(B->View().PixelAt(Corners[K].X, Corners[K].Y), Colors[Expected[O][K]], 12)) << "corner " << K;
    }
}

TEST(PhoneFormats, HeifCropBoxCutsThePictureBeforeItTurns) {
  enum { TL, TR, BL, BR };
  const int Expected[9][4] = {{},
                              {TL, TR, BL, BR}, {TR, TL, BR, BL}, {BR, BL, TR, TL}, {BL, BR, TL, TR},
                              {TL, BL, TR, BR}, {BL, TL, BR, TR}, {BR, TR, BL, TL}, {TR, BR, TL, BL}};
  for (int O : {1, 2, 3, 6, 7}) {
    SCOPED_TRACE(::testing::Message() << "orientation " << O);
    TPhotoStill P = Quadrants(O);
    P.Width = 63;  // coded as 64 x 48, cut to 63 x 47 by the crop box
    P.Height = 47;
    P.CropBox = true;
    const auto Bytes = MakeHeif(P);
    ASSERT_NE(std::string(Bytes.begin(), Bytes.end()).find("clap"), std::string::npos);
    auto G = Load<THEIFImage>(Bytes);
    const int W = O >= 5 ? 47 : 63, H = O >= 5 ? 63 : 47;
    EXPECT_EQ(G->Width(), W);
    EXPECT_EQ(G->Height(), H);
    const TBitmap* B = G->Bitmap();
    ASSERT_EQ(B->Width(), W);
    ASSERT_EQ(B->Height(), H);
    // The corners of the crop, which are the picture's own, where the turn puts them.
    const TPoint Corners[4] = {{0, 0}, {W - 1, 0}, {0, H - 1}, {W - 1, H - 1}};
    for (int K = 0; K < 4; ++K)
      EXPECT_TRUE(Near(B->View().PixelAt(Corners[K].X, Corners[K].Y), Colors[Expected[O][K]], 24)) << "corner " << K;
  }
}

TEST(PhoneFormats, AvifTurnsAsLibheifReadsTheSameFile) {
  // libheif reads AVIF files too and applies their boxes itself: both readers
  // agree, for every rotation with every mirror.
  for (int Rotation = 0; Rotation < 4; ++Rotation)
    for (int Mirror = -1; Mirror <= 1; ++Mirror) {
      SCOPED_TRACE(::testing::Message() << "rotation " << Rotation << ", mirror " << Mirror);
      TPhotoStill Still = Quadrants(0);
      Still.Rotation = Rotation;
      Still.MirrorMode = Mirror;
      const auto Bytes = MakeAvif(Still);
      auto A = Load<TAVIFImage>(Bytes);
      auto H = Load<THEIFImage>(Bytes);
      ASSERT_EQ(A->Width(), H->Width());
      const TPixelView Va = A->Bitmap()->View(), Vh = H->Bitmap()->View();
      for (const TPoint P : {TPoint{2, 2}, TPoint{Va.Width - 3, 2}, TPoint{2, Va.Height - 3}})
        EXPECT_TRUE(Near(Va.PixelAt(P.X, P.Y), Vh.PixelAt(P.X, P.Y), 12));
    }
}

TEST(PhoneFormats, OrientationCanBeTurnedOff) {
  for (const TFormat& F : Formats) {
    auto G = F.Load(F.Make(Quadrants(6)));
    G->SetAutoOrientation(false);
    EXPECT_EQ(G->Width(), 64) << F.Name;
    EXPECT_TRUE(Near(G->Bitmap()->View().PixelAt(2, 2), Colors[0], 12)) << F.Name;
  }
}

TEST(PhoneFormats, AlphaAndProfile) {
  for (const TFormat& F : Formats) {
    SCOPED_TRACE(F.Name);
    TPhotoStill P = Quadrants();
    P.Alpha = true;
    P.Pixel = [](std::uint32_t X, std::uint32_t) {
      return std::array<std::uint8_t, 4>{0, 0, 0, static_cast<std::uint8_t>(X < 32 ? 255 : 0)};
    };
    auto G = F.Load(F.Make(P));
    EXPECT_TRUE(G->HasAlpha());
    auto Drawn = DrawnOverWhite(*G);
    EXPECT_TRUE(Near(Drawn->View().PixelAt(5, 5), 0x000000, 12));   // opaque black
    EXPECT_TRUE(Near(Drawn->View().PixelAt(50, 5), 0xFFFFFF, 12));  // transparent: white beneath

    TPhotoStill Red = Quadrants();
    Red.Pixel = [](std::uint32_t, std::uint32_t) { return std::array<std::uint8_t, 4>{255, 0, 0, 255}; };
    Red.Profile = MakeSwappedPrimariesProfile();
    EXPECT_TRUE(Near(F.Load(F.Make(Red))->Bitmap()->View().PixelAt(5, 5), 0x0000FF, 24));
  }
}

TEST(PhoneFormats, DamagedFilesFailCleanly) {
  for (const TFormat& F : Formats) {
    SCOPED_TRACE(F.Name);
    const auto Good = F.Make(Quadrants());
    std::vector<std::uint8_t> Header(Good.begin(), Good.begin() + 20);
    std::vector<std::uint8_t> Png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
    for (const auto& Bytes : {std::vector<std::uint8_t>{}, Png, Header}) {
      auto G = F.Load(Good);
      const std::string E = ErrorOf([&] { G->LoadFromStream(*TMemoryStream::Over(Bytes)); });
      EXPECT_EQ(E.rfind(F.ErrorStart, 0), 0u) << E;
      EXPECT_EQ(G->Width(), 64);
    }
    // Coded data cut short: the header loads, the first drawing fails once and
    // leaves the background showing.
    std::vector<std::uint8_t> Cut = Good;
    Cut.resize(Cut.size() - 60);
    std::unique_ptr<TDecodedGraphic> G;
    const std::string LoadError = ErrorOf([&] { G = F.Load(Cut); });
    if (!LoadError.empty()) {
      // The coded data lies before the boxes that describe it: the header is cut.
      EXPECT_EQ(LoadError.rfind(F.ErrorStart, 0), 0u) << LoadError;
      continue;
    }
    const std::string E = ErrorOf([&] { DrawnOverWhite(*G); });
    EXPECT_EQ(E.rfind(F.ErrorStart, 0), 0u) << E;
    std::unique_ptr<TBitmap> Again;
    EXPECT_EQ(ErrorOf([&] { Again = DrawnOverWhite(*G); }), "");
    EXPECT_EQ(Again->View().PixelAt(5, 5), 0xFFFFFFu);
  }
}

TEST(PhoneFormats, StoredFormRoundTrip) {
  InitializeAvifSupport();
  InitializeHeifSupport();
  for (const TFormat& F : Formats) {
    const auto Bytes = F.Make(Quadrants(8));
    TPicture Pic;
    Pic.SetGraphic(F.Load(Bytes));
    TMemoryStream S;
    Pic.WriteStored(S);
    TPicture Back;
    S.SetPosition(0);
    Back.ReadStored(S);
    ASSERT_TRUE(Back.Graphic()) << F.Name;
    EXPECT_EQ(Back.Graphic()->ClassName(), Pic.Graphic()->ClassName());
    EXPECT_EQ(Back.Width(), 48);
    TMemoryStream Again;
    Back.Graphic()->SaveToStream(Again);
    EXPECT_EQ(std::vector<std::uint8_t>(Again.Bytes().begin(), Again.Bytes().end()), Bytes) << F.Name;
  }
  FinalizeHeifSupport();
  FinalizeAvifSupport();
}

}  // namespace
