// Orientation and colour profiles of PNG and WebP pictures.
#include <gtest/gtest.h>

#include "picture/png/Png.h"
#include "picture/webp/Webp.h"
#include "support/GraphicTests.h"
#include "support/PhotoFiles.h"
#include "support/PngFiles.h"
#include "support/WebpFiles.h"

namespace {

// A 3 x 2 picture whose pixels all differ.
constexpr std::uint32_t Stored[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFF00, 0x00FFFF, 0xFF00FF}};

std::vector<std::uint8_t> PngWith(const std::vector<std::uint8_t>& Exif, const std::vector<std::uint8_t>& Icc) {
  TPngFileOptions O;
  O.Width = 3;
  O.Height = 2;
  O.Sample = [](int X, int Y, int C) { return (Stored[Y][X] >> (16 - 8 * C)) & 0xFF; };
  O.Exif = Exif;
  O.Icc = Icc;
  return MakePng(O);
}

std::vector<std::uint8_t> WebpWith(const std::vector<std::uint8_t>& Exif, const std::vector<std::uint8_t>& Icc) {
  auto Bytes = MakeWebp(3, 2, [](int X, int Y) { return 0xFF000000u | Stored[Y][X]; }, -1, false);
  if (!Exif.empty()) Bytes = WithWebpChunk(Bytes, "EXIF", Exif);
  if (!Icc.empty()) Bytes = WithWebpChunk(Bytes, "ICCP", Icc);
  return Bytes;
}

std::uint32_t Shown(TGraphic& G, int X, int Y) {
  TBitmap B(G.Width(), G.Height());
  G.DrawInto(B.Canvas(), Rect(0, 0, G.Width(), G.Height()));
  return B.View().PixelAt(X, Y) & 0xFFFFFF;
}

// Both byte orders; WebP files also with the "Exif" prefix some writers put
// before the block (PNG's chunk never has it).
template <class G>
void ExpectTurnedByTheirOrientation(std::vector<std::uint8_t> (*Make)(const std::vector<std::uint8_t>&,
                                                                      const std::vector<std::uint8_t>&),
                                    bool Prefixes) {
  for (int O = 1; O <= 8; ++O) {
    SCOPED_TRACE(O);
    auto P = LoadGraphic<G>(Make(MakeExif(O, O % 2 == 0, Prefixes && O > 4), {}));
    const auto Or = static_cast<TOrientation>(O);
    EXPECT_EQ(P->Orientation(), Or);
    EXPECT_EQ(P->Width(), SwapsAxes(Or) ? 2 : 3);
    EXPECT_EQ(P->Height(), SwapsAxes(Or) ? 3 : 2);
    for (int Y = 0; Y < 2; ++Y)
      for (int X = 0; X < 3; ++X) {
        const TPoint D = OrientedPoint(Or, 3, 2, X, Y);
        EXPECT_EQ(Shown(*P, D.X, D.Y), Stored[Y][X]) << X << "," << Y;
      }
    // Turned off: the picture as stored.
    P->SetAutoOrientation(false);
    EXPECT_EQ(P->Width(), 3);
    EXPECT_EQ(Shown(*P, 2, 1), Stored[1][2]);
  }
}

TEST(WebOrientation, PngFollowsItsExifOrientation) { ExpectTurnedByTheirOrientation<TPngImage>(PngWith, false); }
TEST(WebOrientation, WebpFollowsItsExifOrientation) { ExpectTurnedByTheirOrientation<TWebPImage>(WebpWith, true); }

TEST(WebOrientation, EmbeddedProfilesAreConvertedToSrgb) {
  // A profile that swaps red and blue: the stored red pixel shows blue.
  auto Png = LoadGraphic<TPngImage>(PngWith({}, MakeSwappedPrimariesProfile()));
  auto Webp = LoadGraphic<TWebPImage>(WebpWith({}, MakeSwappedPrimariesProfile()));
  for (TGraphic* G : std::initializer_list<TGraphic*>{Png.get(), Webp.get()}) {
    const std::uint32_t P = Shown(*G, 0, 0);
    EXPECT_LE(P >> 16, 3u) << std::hex << P;
    EXPECT_GE(P & 0xFF, 252u) << std::hex << P;
  }
}

}  // namespace
