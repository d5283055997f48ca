// Playback of enhanced records, checked at known pixels: positions, colours,
// mapping modes, transforms, state, objects, clipping, paths, text and bitmaps.
#include <gtest/gtest.h>

#include <QBuffer>

#include "MetafileBuilder.h"
#include "MetafileRender.h"

namespace {

enum : std::uint32_t {
  Polygon = 3, Polyline = 4, PolyPolygon = 8, SetWindowExt = 9, SetWindowOrg = 10, SetViewportExt = 11,
  SetViewportOrg = 12, SetMapMode = 17, SetBkMode = 18, SetPolyFillMode = 19, SetTextAlign = 22, SetTextColor = 24,
  SetBkColor = 25, MoveTo = 27, ExcludeClip = 29, IntersectClip = 30, SaveDC = 33, RestoreDC = 34,
  SetWorldTransform = 35, ModifyWorldTransform = 36, SelectObject = 37, CreatePen = 38, CreateBrush = 39,
  DeleteObject = 40, Ellipse = 42, Rectangle = 43, LineTo = 54, BeginPath = 59, EndPath = 60, FillPath = 62,
  SelectClipPath = 67, ExtSelectClipRgn = 75, CreateFont = 82, Polygon16 = 86, GradientFill = 118,
};
constexpr std::int32_t Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000, Black = 0;
constexpr std::int32_t NullPen = static_cast<std::int32_t>(0x80000008u);
constexpr std::int32_t BlackBrush = static_cast<std::int32_t>(0x80000004u);
constexpr std::uint32_t White = 0xFFFFFF;

std::int32_t F(float V) {
  std::int32_t B;
  std::memcpy(&B, &V, 4);
  return B;
}

// A metafile that fills with a solid brush of Color and draws no outlines.
TEmfBuilder Filled(std::int32_t Color) {
  TEmfBuilder B;
  B.Rec(CreateBrush, {1, 0, Color, 0}).Rec(SelectObject, {1}).Rec(SelectObject, {NullPen});
  return B;
}

std::vector<std::uint8_t> Font(std::int32_t Index, std::int32_t Height, std::int32_t Escapement = 0) {
  TBytes P;
  P.I32(Index).I32(Height).I32(0).I32(Escapement).I32(Escapement).I32(400);
  P.U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
  for (char16_t C : std::u16string(u"Arial")) P.U16(C);
  for (int I = 5; I < 32; ++I) P.U16(0);
  return P.B;
}

// How many pixels of the image inside R are not white.
int Inked(const QImage& I, int L, int T, int R, int B) {
  int N = 0;
  for (int Y = T; Y < B; ++Y)
    for (int X = L; X < R; ++X) N += Px(I, X, Y) != White;
  return N;
}

}  // namespace

TEST(TMetafilePlay, FrameFillsTheRectangleOfEverySize) {
  const auto M = LoadMetafile(Filled(Red).Rec(Rectangle, {20, 20, 60, 60}).Bytes());
  // The frame's device pixels 0..99 go onto the rectangle's pixels, inclusive on both ends.
  struct TCase {
    TRect R;
    int InX, InY, OutX, OutY;
  } Cases[] = {
      {{0, 0, 100, 100}, 21, 21, 19, 19},
      {{0, 0, 100, 100}, 58, 58, 61, 61},
      {{0, 0, 199, 199}, 42, 42, 37, 37},
      {{0, 0, 199, 199}, 117, 117, 122, 122},
      {{50, 10, 100, 60}, 61, 21, 58, 18},
      {{0, 0, 100, 50}, 30, 15, 30, 5},
  };
  for (const auto& C : Cases) {
    const QImage I = RenderInto(*M, 200, 200, C.R);
    EXPECT_EQ(Px(I, C.InX, C.InY), 0xFF0000u) << C.R.Right << " in " << C.InX << "," << C.InY;
    EXPECT_EQ(Px(I, C.OutX, C.OutY), White) << C.R.Right << " out " << C.OutX << "," << C.OutY;
  }
}

TEST(TMetafilePlay, MappingModesPlaceTheSameSquare) {
  // Each metafile draws the device square 20..60 through a different mapping.
  struct TCase {
    const char* Name;
    TEmfBuilder B;
  } Cases[] = {
      {"text", Filled(Blue).Rec(Rectangle, {20, 20, 60, 60})},
      {"origins", Filled(Blue).Rec(SetWindowOrg, {10, 10}).Rec(SetViewportOrg, {5, 5}).Rec(Rectangle, {25, 25, 65, 65})},
      {"anisotropic", Filled(Blue).Rec(SetMapMode, {8}).Rec(SetWindowExt, {1000, 500}).Rec(SetViewportExt, {100, 100})
                          .Rec(Rectangle, {200, 100, 600, 300})},
      {"isotropic", Filled(Blue).Rec(SetMapMode, {7}).Rec(SetWindowExt, {1000, 1000}).Rec(SetViewportExt, {100, 400})
                        .Rec(Rectangle, {200, 200, 600, 600})},
      {"lometric", Filled(Blue).Rec(SetMapMode, {2}).Rec(Rectangle, {20, -20, 60, -60})},  // 1 unit = 0.1 mm = 1 pixel, y up
      {"himetric", Filled(Blue).Rec(SetMapMode, {3}).Rec(Rectangle, {200, -200, 600, -600})},
      {"world", Filled(Blue).Rec(SetWorldTransform, {F(2), 0, 0, F(2), F(10), F(10)}).Rec(Rectangle, {5, 5, 25, 25})},
      {"modified", Filled(Blue).Rec(ModifyWorldTransform, {F(1), 0, 0, F(1), F(20), F(0), 3})
                       .Rec(ModifyWorldTransform, {F(2), 0, 0, F(2), F(0), F(0), 2}).Rec(Rectangle, {0, 10, 20, 30})},
  };
  for (auto& C : Cases) {
    const QImage I = Render(C.B.Bytes());
    EXPECT_EQ(Px(I, 22, 22), 0x0000FFu) << C.Name;
    EXPECT_EQ(Px(I, 57, 57), 0x0000FFu) << C.Name;
    EXPECT_EQ(Px(I, 17, 40), White) << C.Name;
    EXPECT_EQ(Px(I, 40, 63), White) << C.Name;
  }
}

TEST(TMetafilePlay, RestoreBringsBackStateAndIgnoresRestoresPastTheBottom) {
  const QImage I = Render(Filled(Red)
                              .Rec(SaveDC, {})
                              .Rec(SelectObject, {BlackBrush})
                              .Rec(SetWindowOrg, {-50, 0})
                              .Rec(IntersectClip, {0, 0, 30, 100})
                              .Rec(RestoreDC, {-1})
                              .Rec(RestoreDC, {-1})   // nothing left to restore
                              .Rec(RestoreDC, {5})    // no such save
                              .Rec(Rectangle, {10, 10, 90, 90})
                              .Bytes());
  EXPECT_EQ(Px(I, 12, 50), 0xFF0000u);  // red brush, original origin
  EXPECT_EQ(Px(I, 85, 50), 0xFF0000u);  // the clip is gone as well
}

TEST(TMetafilePlay, ObjectTableIndicesAreChecked) {
  const QImage I = Render(Filled(Green)
                              .Rec(CreateBrush, {500, 0, Red, 0})   // beyond the table: not created
                              .Rec(CreateBrush, {0, 0, Red, 0})     // index 0 is the metafile's own
                              .Rec(SelectObject, {500})
                              .Rec(SelectObject, {0})
                              .Rec(CreateBrush, {2, 0, Blue, 0})
                              .Rec(DeleteObject, {2})
                              .Rec(SelectObject, {2})               // deleted
                              .Rec(Rectangle, {10, 10, 50, 50})
                              .Rec(SelectObject, {BlackBrush})      // a stock object
                              .Rec(Rectangle, {50, 50, 90, 90})
                              .Bytes());
  EXPECT_EQ(Px(I, 30, 30), 0x00FF00u);
  EXPECT_EQ(Px(I, 70, 70), 0x000000u);
}

TEST(TMetafilePlay, ShapesFillWhereExpected) {
  TBytes Poly16;
  Poly16.I32(0).I32(0).I32(0).I32(0).U32(3).I16(10).I16(10).I16(90).I16(10).I16(10).I16(90);
  TBytes Poly;
  Poly.I32(0).I32(0).I32(0).I32(0).U32(3).I32(10).I32(10).I32(90).I32(10).I32(10).I32(90);
  // Two nested squares: a hole with alternate filling, none with winding.
  TBytes Nested;
  Nested.I32(0).I32(0).I32(0).I32(0).U32(2).U32(8).U32(4).U32(4);
  for (int V : {10, 10, 90, 10, 90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70}) Nested.I32(V);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    int X, Y;
    std::uint32_t Expected;
  } Cases[] = {
      {"polygon16 inside", Filled(Red).Raw(Polygon16, Poly16.B).Bytes(), 20, 20, 0xFF0000},
      {"polygon16 outside", Filled(Red).Raw(Polygon16, Poly16.B).Bytes(), 80, 80, White},
      {"polygon inside", Filled(Red).Raw(Polygon, Poly.B).Bytes(), 20, 20, 0xFF0000},
      {"ellipse centre", Filled(Red).Rec(Ellipse, {10, 10, 90, 90}).Bytes(), 50, 50, 0xFF0000},
      {"ellipse corner", Filled(Red).Rec(Ellipse, {10, 10, 90, 90}).Bytes(), 14, 14, White},
      {"alternate hole", Filled(Red).Raw(PolyPolygon, Nested.B).Bytes(), 50, 50, White},
      {"alternate ring", Filled(Red).Raw(PolyPolygon, Nested.B).Bytes(), 20, 50, 0xFF0000},
      {"winding", Filled(Red).Rec(SetPolyFillMode, {2}).Raw(PolyPolygon, Nested.B).Bytes(), 50, 50, 0xFF0000},
  };
  for (const auto& C : Cases) EXPECT_EQ(Px(Render(C.Bytes), C.X, C.Y), C.Expected) << C.Name;
}

TEST(TMetafilePlay, PensDrawLinesInTheirColourAndWidth) {
  const QImage I = Render(TEmfBuilder()
                              .Rec(CreatePen, {1, 0, 0, 0, Red})   // cosmetic: one pixel
                              .Rec(SelectObject, {1})
                              .Rec(MoveTo, {10, 20})
                              .Rec(LineTo, {90, 20})
                              .Rec(CreatePen, {2, 0, 10, 0, Blue})  // ten units wide
                              .Rec(SelectObject, {2})
                              .Rec(MoveTo, {10, 60})
                              .Rec(LineTo, {90, 60})
                              .Bytes());
  EXPECT_EQ(Px(I, 50, 20), 0xFF0000u);
  EXPECT_EQ(Px(I, 50, 22), White);
  EXPECT_EQ(Px(I, 50, 57), 0x0000FFu);
  EXPECT_EQ(Px(I, 50, 63), 0x0000FFu);
  EXPECT_EQ(Px(I, 50, 67), White);
}

TEST(TMetafilePlay, ClippingLimitsDrawing) {
  TBytes Region;  // two rectangles in device units
  Region.U32(32).U32(1).U32(2).U32(32).I32(0).I32(0).I32(100).I32(100);
  for (int V : {0, 0, 30, 100, 70, 0, 100, 100}) Region.I32(V);
  TBytes Select;
  Select.U32(static_cast<std::uint32_t>(Region.Size())).U32(5).Add(Region.B);
  TBytes Triangle;
  Triangle.I32(0).I32(0).I32(0).I32(0).U32(3).I32(0).I32(0).I32(100).I32(0).I32(0).I32(100);
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    std::vector<std::pair<int, int>> Inside, Outside;
  } Cases[] = {
      {"intersect", Filled(Red).Rec(IntersectClip, {20, 20, 60, 60}).Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{25, 25}, {55, 55}}, {{10, 10}, {70, 70}}},
      {"exclude", Filled(Red).Rec(ExcludeClip, {20, 20, 60, 60}).Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{10, 10}, {70, 70}}, {{25, 25}, {55, 55}}},
      {"region", Filled(Red).Raw(ExtSelectClipRgn, Select.B).Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{10, 50}, {80, 50}}, {{50, 50}}},
      {"region reset", Filled(Red).Raw(ExtSelectClipRgn, Select.B).Rec(ExtSelectClipRgn, {0, 5})
                           .Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{10, 50}, {50, 50}}, {}},
      {"path", Filled(Red).Rec(BeginPath, {}).Raw(Polygon, Triangle.B).Rec(EndPath, {}).Rec(SelectClipPath, {5})
                   .Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{10, 10}, {40, 40}}, {{80, 80}}},
      {"mapped", Filled(Red).Rec(SetWindowOrg, {-20, -20}).Rec(IntersectClip, {0, 0, 40, 40}).Rec(SetWindowOrg, {0, 0})
                     .Rec(Rectangle, {0, 0, 100, 100}).Bytes(),
       {{25, 25}, {55, 55}}, {{10, 10}, {70, 70}}},
  };
  for (const auto& C : Cases) {
    const QImage I = Render(C.Bytes);
    for (auto [X, Y] : C.Inside) EXPECT_EQ(Px(I, X, Y), 0xFF0000u) << C.Name << " " << X << "," << Y;
    for (auto [X, Y] : C.Outside) EXPECT_EQ(Px(I, X, Y), White) << C.Name << " " << X << "," << Y;
  }
}

TEST(TMetafilePlay, PathsAreFilledOnlyWhenAsked) {
  TBytes Triangle;
  Triangle.I32(0).I32(0).I32(0).I32(0).U32(3).I32(10).I32(10).I32(90).I32(10).I32(10).I32(90);
  const auto Recorded = Filled(Red).Rec(BeginPath, {}).Raw(Polygon, Triangle.B).Rec(EndPath, {});
  EXPECT_EQ(Inked(Render(TEmfBuilder(Recorded).Bytes()), 0, 0, 100, 100), 0);
  EXPECT_EQ(Px(Render(TEmfBuilder(Recorded).Rec(FillPath, {0, 0, 0, 0}).Bytes()), 20, 20), 0xFF0000u);
}

TEST(TMetafilePlay, TextSitsOnItsReferencePoint) {
  struct TCase {
    const char* Name;
    std::uint32_t Align;
    int InkTop, InkBottom;  // rows between which the capital's ink must lie
  } Cases[] = {
      {"baseline", 24, 20, 50},  // the reference point is on the baseline at y = 50
      {"top", 0, 50, 85},        // the top of the cell
      {"bottom", 8, 10, 50},     // the bottom of the cell
  };
  for (const auto& C : Cases) {
    const QImage I = Render(TEmfBuilder()
                                .Raw(CreateFont, Font(1, -30))
                                .Rec(SelectObject, {1})
                                .Rec(SetTextAlign, {static_cast<std::int32_t>(C.Align)})
                                .Rec(SetBkMode, {1})
                                .Text(20, 50, u"H")
                                .Bytes());
    EXPECT_GT(Inked(I, 20, C.InkTop, 50, C.InkBottom), 40) << C.Name;
    EXPECT_EQ(Inked(I, 0, 0, 100, C.InkTop - 2), 0) << C.Name;
    EXPECT_EQ(Inked(I, 0, C.InkBottom + 2, 100, 100), 0) << C.Name;
    EXPECT_EQ(Inked(I, 0, 0, 18, 100), 0) << C.Name;
  }
}

TEST(TMetafilePlay, TextUsesColourSpacingBackgroundAndEscapement) {
  // Spacing: three letters 25 units apart reach further right than the font alone would.
  const QImage Spaced = Render(TEmfBuilder()
                                   .Raw(CreateFont, Font(1, -20))
                                   .Rec(SelectObject, {1})
                                   .Rec(SetTextAlign, {24})
                                   .Rec(SetTextColor, {Red})
                                   .Rec(SetBkMode, {1})
                                   .Text(5, 50, u"III", 0, {25, 25, 25})
                                   .Bytes());
  EXPECT_GT(Inked(Spaced, 53, 30, 62, 52), 5);
  bool AnyRed = false;
  for (int X = 0; X < 100; ++X)
    for (int Y = 30; Y < 52; ++Y) AnyRed = AnyRed || Px(Spaced, X, Y) == 0xFF0000u;
  EXPECT_TRUE(AnyRed);

  // An opaque rectangle is filled with the background colour.
  const QImage Opaque = Render(TEmfBuilder().Rec(SetBkColor, {Green}).Text(10, 10, u"", 2, {}, {10, 10, 60, 40}).Bytes());
  EXPECT_EQ(Px(Opaque, 30, 30), 0x00FF00u);
  EXPECT_EQ(Px(Opaque, 70, 30), White);

  // Escapement of 90 degrees runs the text upwards from its reference point.
  const QImage Up = Render(TEmfBuilder()
                               .Raw(CreateFont, Font(1, -20, 900))
                               .Rec(SelectObject, {1})
                               .Rec(SetTextAlign, {24})
                               .Rec(SetBkMode, {1})
                               .Text(50, 90, u"IIIII", 0, {12, 12, 12, 12, 12})
                               .Bytes());
  EXPECT_GT(Inked(Up, 30, 30, 52, 90), 10);
  EXPECT_EQ(Inked(Up, 55, 0, 100, 100), 0);
}

TEST(TMetafilePlay, BitmapsAreStretchedTopRowFirst) {
  std::vector<std::uint8_t> Info, Bits;
  Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000}, Info, Bits);
  const QImage I = Render(TEmfBuilder().StretchDib(20, 20, 60, 60, Info, Bits, 2, 2).Bytes());
  EXPECT_EQ(Px(I, 30, 30), 0xFF0000u);
  EXPECT_EQ(Px(I, 70, 30), 0x00FF00u);
  EXPECT_EQ(Px(I, 30, 70), 0x0000FFu);
  EXPECT_EQ(Px(I, 70, 70), 0x000000u);
  EXPECT_EQ(Px(I, 10, 10), White);
  // Bits shorter than the header promises leave the missing pixels black, as
  // in a bitmap file: the stored bottom row is whole, the top row has one pixel.
  Bits.resize(11);
  const QImage Short = Render(TEmfBuilder().StretchDib(20, 20, 60, 60, Info, Bits, 2, 2).Bytes());
  EXPECT_EQ(Px(Short, 30, 30), 0xFF0000u);
  EXPECT_EQ(Px(Short, 70, 30), 0x000000u);
  EXPECT_EQ(Px(Short, 30, 70), 0x0000FFu);
}

TEST(TMetafilePlay, GradientRunsBetweenItsVertexColours) {
  TBytes G;
  G.I32(0).I32(0).I32(0).I32(0).U32(2).U32(1).U32(0);
  G.I32(0).I32(0).U16(0xFF00).U16(0).U16(0).U16(0);
  G.I32(100).I32(100).U16(0).U16(0).U16(0xFF00).U16(0);
  G.U32(0).U32(1);
  const QImage I = Render(TEmfBuilder().Raw(GradientFill, G.B).Bytes());
  const std::uint32_t L = Px(I, 2, 50), R = Px(I, 97, 50), M = Px(I, 50, 50);
  EXPECT_GT(L >> 16, 0xF0u);
  EXPECT_GT(R & 0xFF, 0xF0u);
  EXPECT_NEAR(static_cast<int>(M >> 16), 0x80, 12);
  EXPECT_NEAR(static_cast<int>(M & 0xFF), 0x80, 12);
}

TEST(TMetafilePlay, DamagedRecordsEndOrSkipWithoutHarm) {
  TBytes Huge;  // claims a million points in a short record
  Huge.I32(0).I32(0).I32(0).I32(0).U32(1000000).I32(0).I32(0);
  auto Bytes = Filled(Red).Rec(Rectangle, {10, 10, 40, 40}).Raw(Polygon, Huge.B).Rec(999, {1, 2, 3})
                   .Rec(Rectangle, {60, 10, 90, 40}).Rec(Rectangle, {10, 60, 40, 90}).Bytes();
  QImage I = Render(Bytes);
  EXPECT_EQ(Px(I, 20, 20), 0xFF0000u);
  EXPECT_EQ(Px(I, 70, 20), 0xFF0000u);  // after the skipped records
  // A record that claims more bytes than remain ends playback there.
  const std::size_t Last = Bytes.size() - 20 - 24;  // the last rectangle, before the end record
  Bytes[Last + 4] = 0xF0;
  Bytes[Last + 5] = 0xFF;
  I = Render(Bytes);
  EXPECT_EQ(Px(I, 70, 20), 0xFF0000u);
  EXPECT_EQ(Px(I, 20, 70), White);
}

TEST(TMetafilePlay, StretchedBitmapsMixByRasterOperation) {
  std::vector<std::uint8_t> Info, Bits;
  Dib24(1, 1, {0xFF0000}, Info, Bits);
  struct TCase {
    const char* Name;
    std::uint32_t Rop, Expected;
  } Cases[] = {
      {"copy", 0x00CC0020, 0xFF0000},
      {"or", 0x00EE0086, 0xFFFF00},   // red over green
      {"and", 0x008800C6, 0x000000},
      {"xor", 0x00660046, 0xFFFF00},
      {"inverted copy", 0x00330008, 0x00FFFF},
  };
  for (const auto& C : Cases) {
    const QImage I = Render(Filled(Green).Rec(Rectangle, {0, 0, 100, 100}).StretchDib(20, 20, 60, 60, Info, Bits, 1, 1, C.Rop).Bytes());
    EXPECT_EQ(Px(I, 50, 50), C.Expected) << C.Name;
    EXPECT_EQ(Px(I, 10, 10), 0x00FF00u) << C.Name;
  }
}

TEST(TMetafilePlay, BitmapsEnlargedFarBeyondTheSurfaceStillCoverIt) {
  std::vector<std::uint8_t> Info, Bits;
  Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000}, Info, Bits);
  const QImage I = Render(TEmfBuilder().StretchDib(-1000000000, -1000000000, 2000000000, 2000000000, Info, Bits, 2, 2).Bytes());
  EXPECT_EQ(Px(I, 10, 10), 0x000000u);  // the bottom-right quarter reaches over the whole surface
  EXPECT_EQ(Px(I, 90, 90), 0x000000u);
}

TEST(TMetafilePlay, PaletteIndexedBitmapsTakeTheSelectedPalette) {
  TBytes Pal;
  Pal.U32(1).U16(0x300).U16(2).U32(0x000000FF).U32(0x0000FF00);  // entries: red, then green
  TBytes Info;  // 1 x 1, 8 bits, two colour entries given as palette indexes 1 and 0
  Info.U32(40).I32(1).I32(1).U16(1).U16(8).U32(0).U32(0).U32(0).U32(0).U32(2).U32(0).U16(1).U16(0);
  const std::vector<std::uint8_t> Bits = {0, 0, 0, 0};
  TBytes P;
  P.I32(0).I32(0).I32(-1).I32(-1).I32(20).I32(20).I32(0).I32(0).I32(1).I32(1);
  P.U32(80).U32(static_cast<std::uint32_t>(Info.Size())).U32(static_cast<std::uint32_t>(80 + Info.Size())).U32(4);
  P.U32(1).U32(0x00CC0020).I32(60).I32(60).Add(Info.B).Add(Bits);
  const QImage I = Render(TEmfBuilder().Raw(49, Pal.B).Rec(48, {1}).Raw(81, P.B).Bytes());
  EXPECT_EQ(Px(I, 50, 50), 0x00FF00u);
}

TEST(TMetafilePlay, ScalesOutOfRangeDrawNothingUntilMendedAndAFrameOfNothingFallsBackToTheBounds) {
  auto B = Filled(Red).Rec(SetMapMode, {8});
  for (int I = 0; I < 40; ++I) B.Rec(32, {1000000000, 1, 1000000000, 1});  // window extents grow past any number
  B.Rec(Rectangle, {10, 10, 40, 40}).Rec(SetWindowExt, {100, 100}).Rec(SetViewportExt, {100, 100}).Rec(Rectangle, {60, 60, 90, 90});
  const QImage I = Render(B.Bytes());
  EXPECT_EQ(Px(I, 20, 20), White);
  EXPECT_EQ(Px(I, 75, 75), 0xFF0000u);

  const QImage NoFrame = Render(Filled(Red).Frame(0, 0, 0, 0).Rec(Rectangle, {20, 20, 60, 60}).Bytes());
  EXPECT_EQ(Px(NoFrame, 40, 40), 0xFF0000u);
}

TEST(TMetafilePlay, DrawingToRecordsContinueFromTheCurrentPosition) {
  TBytes LinesTo;  // from the current position (10, 50) on to (50, 50) and (50, 90)
  LinesTo.I32(0).I32(0).I32(0).I32(0).U32(2).I32(50).I32(50).I32(50).I32(90);
  TBytes Draw;  // move to (70, 10), line to (90, 10)
  Draw.I32(0).I32(0).I32(0).I32(0).U32(2).I32(70).I32(10).I32(90).I32(10).U8(6).U8(2);
  const QImage I = Render(TEmfBuilder()
                              .Rec(CreatePen, {1, 0, 3, 0, Blue})
                              .Rec(SelectObject, {1})
                              .Rec(MoveTo, {10, 50})
                              .Raw(6, LinesTo.B)
                              .Rec(LineTo, {90, 90})  // continues from (50, 90)
                              .Raw(56, Draw.B)
                              .Bytes());
  for (auto [X, Y] : std::vector<std::pair<int, int>>{{30, 50}, {50, 70}, {70, 90}, {80, 10}})
    EXPECT_EQ(Px(I, X, Y), 0x0000FFu) << X << "," << Y;
  EXPECT_EQ(Px(I, 30, 70), White);
  EXPECT_EQ(Px(I, 60, 10), White);  // PolyDraw moved there without a line
}

TEST(TMetafilePlay, TheCanvasClipStaysInForceUnderTheMetafilesOwn) {
  const auto M = LoadMetafile(Filled(Red).Rec(ExcludeClip, {40, 0, 60, 100}).Rec(Rectangle, {0, 0, 100, 100}).Bytes());
  TBitmap B(100, 100);
  const QRegion Left(0, 0, 50, 100);
  B.Canvas().SetClipRegion(&Left);
  B.Canvas().StretchDraw(TRect{0, 0, 100, 100}, M.get());
  const QImage I = *B.Canvas().Surface();
  EXPECT_EQ(Px(I, 20, 50), 0xFF0000u);
  EXPECT_EQ(Px(I, 45, 50), White);  // excluded by the metafile
  EXPECT_EQ(Px(I, 80, 50), White);  // outside the canvas clip
}

TEST(TMetafilePlay, TextScalesWithTheRectangleAlsoWhenDrawnAsOutlines) {
  const auto M = LoadMetafile(TEmfBuilder()
                                  .Raw(CreateFont, Font(1, -30))
                                  .Rec(SelectObject, {1})
                                  .Rec(SetTextAlign, {24})
                                  .Rec(SetBkMode, {1})
                                  .Text(20, 60, u"H")
                                  .Bytes());
  // The ink's box at 1:1 (glyphs from the cache) and at 8:1 (glyphs as outlines).
  auto InkBox = [](const QImage& I) {
    QRect Box;
    for (int Y = 0; Y < I.height(); ++Y)
      for (int X = 0; X < I.width(); ++X)
        if (Px(I, X, Y) != White) Box |= QRect(X, Y, 1, 1);
    return Box;
  };
  const QRect Small = InkBox(RenderInto(*M, 100, 100, TRect{0, 0, 100, 100}));
  const QRect Large = InkBox(RenderInto(*M, 800, 800, TRect{0, 0, 793, 793}));  // 8 pixels per device pixel
  ASSERT_FALSE(Small.isEmpty());
  ASSERT_FALSE(Large.isEmpty());
  EXPECT_NEAR(Large.left(), Small.left() * 8, 10);
  EXPECT_NEAR(Large.bottom(), Small.bottom() * 8, 10);
  EXPECT_NEAR(Large.height(), Small.height() * 8, 12);
}

TEST(TMetafilePlay, CurvesDashesAndAlphaBlending) {
  TBytes Bezier;  // from (10, 60) over control points (10, 0) and (90, 0) to (90, 60): its top is near y = 15
  Bezier.I32(0).I32(0).I32(0).I32(0).U32(4).I32(10).I32(60).I32(10).I32(0).I32(90).I32(0).I32(90).I32(60);
  const QImage Curve = Render(TEmfBuilder().Rec(CreatePen, {1, 0, 3, 0, Blue}).Rec(SelectObject, {1}).Raw(2, Bezier.B).Bytes());
  EXPECT_GT(Inked(Curve, 45, 12, 55, 19), 0);
  EXPECT_EQ(Inked(Curve, 30, 25, 70, 58), 0);

  // A dashed cosmetic pen leaves gaps along its line.
  const QImage Dashed = Render(TEmfBuilder().Rec(CreatePen, {1, 1, 0, 0, Black}).Rec(SelectObject, {1})
                                   .Rec(MoveTo, {0, 50}).Rec(LineTo, {100, 50}).Bytes());
  const int Ink = Inked(Dashed, 0, 50, 100, 51);
  EXPECT_GT(Ink, 40);
  EXPECT_LT(Ink, 95);

  // Half of a red bitmap's colour over white, with the constant alpha of the blend function.
  std::vector<std::uint8_t> Info, Bits;
  Dib24(1, 1, {0xFF0000}, Info, Bits);
  TBytes Blend;
  Blend.I32(0).I32(0).I32(-1).I32(-1).I32(20).I32(20).I32(60).I32(60).U8(0).U8(0).U8(128).U8(0).I32(0).I32(0);
  Blend.F32(1).F32(0).F32(0).F32(1).F32(0).F32(0).U32(0).U32(0);
  Blend.U32(108).U32(static_cast<std::uint32_t>(Info.size())).U32(static_cast<std::uint32_t>(108 + Info.size()))
      .U32(static_cast<std::uint32_t>(Bits.size())).I32(1).I32(1).Add(Info).Add(Bits);
  const QImage Mixed = Render(TEmfBuilder().Raw(114, Blend.B).Bytes());
  const std::uint32_t P = Px(Mixed, 50, 50);
  EXPECT_EQ(P >> 16, 0xFFu);
  EXPECT_NEAR(static_cast<int>((P >> 8) & 0xFF), 127, 3);
  EXPECT_NEAR(static_cast<int>(P & 0xFF), 127, 3);
  EXPECT_EQ(Px(Mixed, 10, 10), White);
}

TEST(TMetafilePlay, BoxedFiguresLeaveOutTheirRightAndBottomRow) {
  // A frame around the whole picture: its right and bottom sides fall on the last pixels, not past them.
  const QImage I = Render(TEmfBuilder()
                              .Rec(CreatePen, {1, 0, 0, 0, Black})
                              .Rec(SelectObject, {1})
                              .Rec(SelectObject, {static_cast<std::int32_t>(0x80000005u)})  // no brush
                              .Rec(Rectangle, {0, 0, 100, 100})
                              .Bytes());
  for (auto [X, Y] : std::vector<std::pair<int, int>>{{0, 50}, {99, 50}, {50, 0}, {50, 99}})
    EXPECT_EQ(Px(I, X, Y), 0x000000u) << X << "," << Y;
  EXPECT_EQ(Px(I, 98, 50), White);
  EXPECT_EQ(Px(I, 50, 50), White);
}

TEST(TMetafilePlay, ExtentsScaleEachAxisByItsOwnFactor) {
  // Window and viewport 100 x 100, then one extent scaled by 2 across and 1/2
  // down (or the reverse): a square 20..60 lands on half or twice its width and
  // height, which tells x from y.
  struct TCase {
    const char* Name;
    std::uint32_t Record;  // scale the viewport (31) or the window (32)
    std::int32_t XNum, XDen, YNum, YDen;
    std::pair<int, int> Inside, Outside;
  } Cases[] = {
      {"viewport wider", 31, 2, 1, 1, 2, {100, 20}, {20, 50}},   // 40..120 x 10..30
      {"viewport taller", 31, 1, 2, 2, 1, {20, 100}, {50, 20}},  // 10..30 x 40..120
      {"window wider", 32, 2, 1, 1, 2, {20, 100}, {50, 20}},     // 10..30 x 40..120
      {"window taller", 32, 1, 2, 2, 1, {100, 20}, {20, 50}},    // 40..120 x 10..30
  };
  for (const auto& C : Cases) {
    const QImage I = Render(Filled(Red)
                                .Rec(SetMapMode, {8})
                                .Rec(SetWindowExt, {100, 100})
                                .Rec(SetViewportExt, {100, 100})
                                .Rec(C.Record, {C.XNum, C.XDen, C.YNum, C.YDen})
                                .Rec(Rectangle, {20, 20, 60, 60})
                                .Bytes(),
                            150, 150);
    EXPECT_EQ(Px(I, C.Inside.first, C.Inside.second), 0xFF0000u) << C.Name;
    EXPECT_EQ(Px(I, C.Outside.first, C.Outside.second), White) << C.Name;
  }
}

TEST(TMetafilePlay, ClipToAPathOnTheCornersOfItsBoxIsNotARectangleUnlessItIsOne) {
  // A bow tie (0,0) (100,100) (100,0) (0,100): its points are the corners of
  // its box, but it leaves out the top and bottom middle; the same corners in
  // order around the box make a rectangle.
  auto ClipTo = [](std::initializer_list<std::int32_t> Points) {
    TBytes P;
    P.I32(0).I32(0).I32(0).I32(0).U32(4);
    for (std::int32_t V : Points) P.I32(V);
    return Filled(Red).Rec(BeginPath, {}).Raw(Polygon, P.B).Rec(EndPath, {}).Rec(SelectClipPath, {5})
        .Rec(Rectangle, {0, 0, 100, 100}).Bytes();
  };
  const QImage Bow = Render(ClipTo({0, 0, 100, 100, 100, 0, 0, 100}));
  EXPECT_EQ(Px(Bow, 10, 50), 0xFF0000u);
  EXPECT_EQ(Px(Bow, 90, 50), 0xFF0000u);
  EXPECT_EQ(Px(Bow, 50, 10), White);
  EXPECT_EQ(Px(Bow, 50, 90), White);
  const QImage Box = Render(ClipTo({0, 0, 100, 0, 100, 100, 0, 100}));
  EXPECT_EQ(Px(Box, 50, 10), 0xFF0000u);
  EXPECT_EQ(Px(Box, 10, 50), 0xFF0000u);
}

TEST(TMetafilePlay, EmbeddedPngIsCheckedAgainstThePixelLimitBeforeDecoding) {
  // A two-colour PNG compresses to little, so a picture just past the limit
  // (16385 x 16385) is a small file that would otherwise decode.
  auto Record = [](int Side) {
    QImage Img(Side, Side, QImage::Format_Mono);
    Img.setColorTable({qRgb(0, 0, 255), qRgb(255, 255, 255)});
    Img.fill(0);
    QByteArray Png;
    QBuffer Buffer(&Png);
    Buffer.open(QIODevice::WriteOnly);
    Img.save(&Buffer, "PNG", 0);
    TBytes Info;  // the header gives a 1 x 1 bitmap whose pixels are a PNG file
    Info.U32(40).I32(1).I32(1).U16(1).U16(0).U32(5).U32(static_cast<std::uint32_t>(Png.size())).U32(0).U32(0).U32(0).U32(0);
    return TEmfBuilder().StretchDib(20, 20, 60, 60, Info.B, std::vector<std::uint8_t>(Png.begin(), Png.end()), 1, 1).Bytes();
  };
  EXPECT_EQ(Px(Render(Record(2)), 50, 50), 0x0000FFu);
  EXPECT_EQ(Inked(Render(Record(16385)), 0, 0, 100, 100), 0);
}

TEST(TMetafilePlay, AFrameRunningRightToLeftPlaysIntoTheRectangle) {
  // The frame runs from 990 to 0 across: the picture is 99 pixels wide and
  // drawn inside the rectangle it is given, mirrored as its frame says.
  const auto M = LoadMetafile(Filled(Red).Frame(990, 0, 0, 990).Rec(Rectangle, {0, 0, 30, 100}).Bytes());
  EXPECT_EQ(M->Width(), 99);
  const QImage I = RenderInto(*M, 200, 100, TRect{50, 0, 150, 100});
  EXPECT_EQ(Px(I, 140, 50), 0xFF0000u);
  EXPECT_EQ(Px(I, 60, 50), White);
  EXPECT_EQ(Inked(I, 0, 0, 50, 100) + Inked(I, 150, 0, 200, 100), 0);
}
