#include "toolkit/Graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include <QFont>
#include <QImage>

#include "toolkit/Exceptions.h"

namespace {

// A canvas over its own 32-bit image.
struct TImageCanvas {
  QImage Image;
  TCanvas Canvas;
  TImageCanvas(int W, int H, std::uint32_t Fill = 0xFF000000u)
      : Image(W, H, QImage::Format_RGB32), Canvas([this] { return &Image; }) {
    Image.fill(Fill);
  }
  std::uint32_t At(int X, int Y) const { return reinterpret_cast<const std::uint32_t*>(Image.constScanLine(Y))[X]; }
};

// Restores the display's pixels per inch after a test changed them.
struct TPpiGuard {
  int Saved = DisplayInfo().PixelsPerInch;
  ~TPpiGuard() { DisplayInfo().PixelsPerInch = Saved; }
};

TEST(TCanvas, FillRectWithTheBrushWithinTheClip) {
  TImageCanvas C(6, 4);
  C.Canvas.Brush().Color = clBtnFace;  // a system colour: the fixed scheme's value
  const QRegion Clip(2, 0, 3, 2);
  C.Canvas.SetClipRegion(&Clip);
  EXPECT_EQ(C.Canvas.ClipRect(), (TRect{2, 0, 5, 2}));
  C.Canvas.FillRect(TRect{0, 0, 6, 4});
  for (int Y = 0; Y < 4; ++Y)
    for (int X = 0; X < 6; ++X)
      EXPECT_EQ(C.At(X, Y), Clip.contains(QPoint(X, Y)) ? 0xFFF0F0F0u : 0xFF000000u) << X << "," << Y;

  // A clear brush fills nothing; lifting the clip gives the whole surface back.
  C.Canvas.SetClipRegion(nullptr);
  EXPECT_EQ(C.Canvas.ClipRect(), (TRect{0, 0, 6, 4}));
  C.Canvas.Brush().Style = bsClear;
  C.Canvas.Brush().Color = clRed;
  C.Canvas.FillRect(TRect{0, 0, 6, 4});
  EXPECT_EQ(C.At(0, 3), 0xFF000000u);
}

TEST(TCanvas, ClipRectNeverReachesPastTheSurface) {
  TImageCanvas C(10, 10);
  const QRegion Clip = QRegion(-5, 3, 8, 2) + QRegion(8, 8, 10, 10);
  C.Canvas.SetClipRegion(&Clip);
  EXPECT_EQ(C.Canvas.ClipRect(), (TRect{0, 3, 10, 10}));
  TCanvas NoSurface([]() -> QImage* { return nullptr; });
  EXPECT_TRUE(NoSurface.ClipRect().IsEmpty());
  NoSurface.FillRect(TRect{0, 0, 5, 5});  // nothing to draw on, and no failure
  EXPECT_EQ(NoSurface.Pixels(0, 0), -1);
}

TEST(TCanvas, PixelsReadAndWriteOnlyInsideTheSurfaceAndTheClip) {
  TImageCanvas C(4, 3);
  C.Canvas.SetPixels(1, 2, RGB(10, 20, 30));
  EXPECT_EQ(C.Canvas.Pixels(1, 2), RGB(10, 20, 30));
  EXPECT_EQ(C.At(1, 2), 0xFF0A141Eu);
  for (const TPoint P : {TPoint{-1, 0}, TPoint{0, -1}, TPoint{4, 0}, TPoint{0, 3}}) {
    EXPECT_EQ(C.Canvas.Pixels(P.X, P.Y), -1);
    C.Canvas.SetPixels(P.X, P.Y, clWhite);  // ignored
  }
  const QRegion Clip(0, 0, 1, 1);
  C.Canvas.SetClipRegion(&Clip);
  C.Canvas.SetPixels(2, 2, clWhite);
  C.Canvas.SetPixels(0, 0, clWhite);
  EXPECT_EQ(C.Canvas.Pixels(2, 2), clBlack);
  EXPECT_EQ(C.Canvas.Pixels(0, 0), clWhite);
}

TEST(TCanvas, CopyRectStretchesFromAnotherCanvasWithinTheClip) {
  TImageCanvas Src(2, 2);
  Src.Canvas.SetPixels(0, 0, clRed);
  Src.Canvas.SetPixels(1, 0, clLime);
  Src.Canvas.SetPixels(0, 1, clBlue);
  Src.Canvas.SetPixels(1, 1, clWhite);
  TImageCanvas Dst(4, 4);
  const QRegion Clip(0, 0, 4, 3);
  Dst.Canvas.SetClipRegion(&Clip);
  Dst.Canvas.CopyRect(TRect{0, 0, 4, 4}, Src.Canvas, TRect{0, 0, 2, 2});
  EXPECT_EQ(Dst.Canvas.Pixels(1, 1), clRed);
  EXPECT_EQ(Dst.Canvas.Pixels(2, 0), clLime);
  EXPECT_EQ(Dst.Canvas.Pixels(3, 2), clWhite);
  EXPECT_EQ(Dst.Canvas.Pixels(0, 3), clBlack);  // outside the clip
}

class TRecordingDrawable : public TCanvasDrawable {
 public:
  bool IsEmpty = false;
  std::vector<TRect> Drawn;
  bool Empty() const override { return IsEmpty; }
  std::int32_t Width() const override { return 7; }
  std::int32_t Height() const override { return 5; }
  void DrawInto(TCanvas&, const TRect& R) override { Drawn.push_back(R); }
};

TEST(TCanvas, DrawUsesTheOwnSizeAndTakesTheColoursForMonochromeGraphics) {
  TImageCanvas C(20, 20);
  TRecordingDrawable G;
  C.Canvas.Brush().Color = clYellow;
  C.Canvas.Font().Color = clNavy;
  C.Canvas.Draw(3, -2, &G);
  EXPECT_EQ(G.Drawn, (std::vector<TRect>{{3, -2, 10, 3}}));
  EXPECT_EQ(C.Canvas.BackgroundColor(), clYellow);
  EXPECT_EQ(C.Canvas.TextColor(), clNavy);
  // StretchDraw passes the rectangle as it is, flipped or not.
  C.Canvas.StretchDraw(TRect{9, 9, 2, 4}, &G);
  EXPECT_EQ(G.Drawn.back(), (TRect{9, 9, 2, 4}));
  // Nothing for an empty or absent graphic.
  G.IsEmpty = true;
  G.Drawn.clear();
  C.Canvas.Draw(0, 0, &G);
  C.Canvas.Draw(0, 0, nullptr);
  C.Canvas.StretchDraw(TRect{0, 0, 4, 4}, nullptr);
  EXPECT_TRUE(G.Drawn.empty());
}

TEST(TFont, SizeInPointsFollowsThePixelsPerInch) {
  TPpiGuard Guard;
  const struct {
    int Ppi, Height, Points, HeightForPoints;
  } Cases[] = {
      {96, -11, 8, -11},    // 8.25 points; 8 points are 10.67 pixels
      {96, -12, 9, -12},
      {96, -13, 10, -13},   // 9.75 points
      {120, -11, 7, -12},   // 6.6 points; 7 points are 11.67 pixels
      {144, -20, 10, -20},
  };
  for (const auto& C : Cases) {
    DisplayInfo().PixelsPerInch = C.Ppi;
    TFont F;
    F.Height = C.Height;
    EXPECT_EQ(F.Size(), C.Points) << C.Ppi << " " << C.Height;
    F.SetSize(C.Points);
    EXPECT_EQ(F.Height, C.HeightForPoints) << C.Ppi << " " << C.Height;
  }
}

TEST(TFont, AssignCopiesEveryFieldAndRefusesOtherClasses) {
  TFont A;
  A.Name = "Arial";
  A.Height = -20;
  A.Color = clRed;
  A.Style = TFontStyles{fsBold, fsStrikeOut};
  A.Charset = 0;
  TFont B;
  B.Assign(&A);
  EXPECT_EQ(B.Name, "Arial");
  EXPECT_EQ(B.Height, -20);
  EXPECT_EQ(B.Color, clRed);
  EXPECT_EQ(B.Style, (TFontStyles{fsBold, fsStrikeOut}));
  EXPECT_EQ(B.Charset, 0);
  EXPECT_THROW(B.Assign(nullptr), EConvertError);
}

TEST(TFont, QtFontTakesPixelSizesAndStyles) {
  TFont F;
  F.Height = -16;
  F.Style = TFontStyles{fsItalic, fsUnderline};
  QFont Q = F.ToQFont();
  EXPECT_EQ(Q.pixelSize(), 16);
  EXPECT_TRUE(Q.italic());
  EXPECT_TRUE(Q.underline());
  EXPECT_FALSE(Q.bold());
  // A positive height is the cell height: the character is about four fifths of it.
  F.Height = 20;
  EXPECT_EQ(F.ToQFont().pixelSize(), 16);
  // Heights beyond any screen are capped, at either sign.
  for (const int H : {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), -5000})
    EXPECT_EQ((F.Height = H, F.ToQFont().pixelSize()), 4096) << H;
}

// An installed family is used by its name, whatever its case; a name the
// system does not know gets a sans-serif face of similar widths.
TEST(TFont, QtFontFamilyIsAnInstalledOne) {
  TFont F;
  F.Name = "DejaVu Sans";
  EXPECT_EQ(F.ToQFont().family(), QString("DejaVu Sans"));
  F.Name = "dejavu sans";
  EXPECT_EQ(F.ToQFont().family().toCaseFolded(), QString("dejavu sans"));
  F.Name = "No Such Family Anywhere";
  EXPECT_EQ(F.ToQFont().family(), QString("Liberation Sans"));
}

TEST(Colours, SystemColoursResolveToTheFixedSchemeAndOthersPassUnchanged) {
  const struct {
    TColor Color, Rgb;
  } Cases[] = {
      {clWindow, RGB(255, 255, 255)}, {clWindowText, RGB(0, 0, 0)},     {clBtnFace, RGB(240, 240, 240)},
      {clBtnShadow, RGB(160, 160, 160)}, {clHighlight, RGB(0, 120, 215)}, {clInfoBk, RGB(255, 255, 225)},
      {clSystemColor | 99, RGB(0, 0, 0)}, {clTeal, clTeal},               {RGB(1, 2, 3), RGB(1, 2, 3)},
  };
  for (const auto& C : Cases) EXPECT_EQ(ColorToRGB(C.Color), C.Rgb) << std::hex << C.Color;
  EXPECT_EQ(ColorToPixel(RGB(0x12, 0x34, 0x56)), 0xFF123456u);
  EXPECT_EQ(PixelToColor(0x80ABCDEFu), RGB(0xAB, 0xCD, 0xEF));
}

TEST(CreateHalftonePalette, HoldsTheStaticColoursAndTheColourCube) {
  const auto P = CreateHalftonePalette();
  const std::vector<std::uint32_t>& E = P->Entries();
  ASSERT_EQ(E.size(), 256u);
  EXPECT_EQ(E.front(), 0x000000u);
  EXPECT_EQ(E.back(), 0xFFFFFFu);
  for (int R = 0; R < 6; ++R)
    for (int G = 0; G < 6; ++G)
      for (int B = 0; B < 6; ++B) {
        const auto C = static_cast<std::uint32_t>((R * 51) << 16 | (G * 51) << 8 | B * 51);
        EXPECT_NE(std::find(E.begin(), E.end(), C), E.end()) << std::hex << C;
      }
}

}  // namespace
