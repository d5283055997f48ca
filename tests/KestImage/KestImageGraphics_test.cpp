// The view with graphics other than plain opaque bitmaps: graphics that leave
// pixels undrawn, metafiles zoomed far in, graphics that learn their size at
// their first drawing, and graphics that report sizes no picture has.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <limits>
#include <set>

#include "../picture/BmpBuilder.h"
#include "../picture/MetafileBuilder.h"
#include "support/ViewFixtures.h"

namespace {

std::unique_ptr<TIcon> IconOf(const bmptest::TBytes& Bytes) {
  TMemoryStream S(Bytes);
  auto I = std::make_unique<TIcon>();
  I->LoadFromStream(S);
  return I;
}

// A W x H icon, blue where the mask is opaque: its left half is transparent.
std::unique_ptr<TIcon> HalfTransparentIcon(int W, int H) {
  std::vector<std::vector<std::uint32_t>> Rows(H, std::vector<std::uint32_t>(W, 0x0000FF));
  std::vector<std::vector<std::uint32_t>> Mask(H, std::vector<std::uint32_t>(W, 0));
  for (auto& Row : Mask)
    for (int X = 0; X < W / 2; ++X) Row[X] = 1;
  return IconOf(bmptest::IcoFile({{W, H, 0, bmptest::IconDib(24, Rows, Mask), {}, {}}}));
}

// A bitmap whose left half has the colour of its bottom-left pixel, so that
// half is see-through when the bitmap is transparent.
std::unique_ptr<TBitmap> HalfTransparentBitmap(int W, int H) {
  auto B = CoordinateBitmap(W, H);
  for (int Y = 0; Y < H; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(Y));
    for (int X = 0; X < W / 2; ++X) Row[X] = 0xFF00FF00u;
  }
  B->SetTransparent(true);
  return B;
}

// A metafile of 99 x 99 pixels that fills one rectangle in its middle, with
// no outline (outlines of a cosmetic pen may fall a pixel apart at different
// origins, fills do not).
std::unique_ptr<TMetafile> PartlyDrawnMetafile() {
  constexpr std::int32_t SelectObject = 37, Rectangle = 43;
  constexpr std::int32_t BlackBrush = static_cast<std::int32_t>(0x80000004u);
  constexpr std::int32_t NullPen = static_cast<std::int32_t>(0x80000008u);
  auto M = std::make_unique<TMetafile>();
  M->LoadFromBytes(TEmfBuilder()
                       .Rec(SelectObject, {BlackBrush})
                       .Rec(SelectObject, {NullPen})
                       .Rec(Rectangle, {30, 30, 70, 70})
                       .Bytes());
  return M;
}

// A W x H metafile whose lower-left half is black: its edge is a diagonal.
std::unique_ptr<TMetafile> DiagonalMetafile(std::int32_t W, std::int32_t H) {
  constexpr std::int32_t SelectObject = 37, Polygon = 3;
  constexpr std::int32_t BlackBrush = static_cast<std::int32_t>(0x80000004u);
  constexpr std::int32_t NullPen = static_cast<std::int32_t>(0x80000008u);
  auto M = std::make_unique<TMetafile>();
  M->LoadFromBytes(TEmfBuilder(W * 10, H * 10)
                       .Rec(SelectObject, {BlackBrush})
                       .Rec(SelectObject, {NullPen})
                       .Rec(Polygon, {0, 0, W, H, 3, 0, 0, W, H, 0, H})
                       .Bytes());
  return M;
}

// A graphic of any reported size that fills whatever rectangle it is given.
class TReportedSize : public TGraphic {
 public:
  TReportedSize(std::int32_t W, std::int32_t H) : FWidth(W), FHeight(H) {}
  void DrawInto(TCanvas& C, const TRect& R) override {
    C.Brush().Color = clRed;
    C.FillRect(R);
  }
  bool Empty() const override { return false; }
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void SetWidth(std::int32_t V) override { FWidth = V; }
  void SetHeight(std::int32_t V) override { FHeight = V; }
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream&) const override {}

 private:
  std::int32_t FWidth, FHeight;
};

TEST(KestImageGraphics, UndrawnPixelsShowTheBackgroundNotThePreviousPicture) {
  const struct {
    const char* Graphic;
    TScaleMode Mode;
    double Scale;
    int ClientW, ClientH;
    TCacheState State;
  } Cases[] = {
      {"icon", smScale, 8, 100, 100, cstScaled},          {"icon", smScale, 1000, 100, 100, cstNone},
      {"icon", smNormal, 1, 20, 20, cstUnscaled},         {"icon", smNormal, 1, 20, 60, cstUnscaledHorz},
      {"icon", smNormal, 1, 60, 20, cstUnscaledVert},     {"bitmap", smScale, 3, 100, 100, cstScaled},
      {"bitmap", smNormal, 1, 30, 30, cstUnscaled},       {"bitmap", smScale, 1000, 100, 100, cstUnscaled},
      {"metafile", smScale, 4, 150, 150, cstScaled},      {"metafile", smNormal, 1, 50, 50, cstUnscaled},
      {"metafile", smScale, 1000, 150, 150, cstNone},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Graphic << " mode " << int(C.Mode) << " at " << C.Scale);
    auto V = FixedClientView(C.ClientW, C.ClientH);
    V->SetColor(TColor(0x00A0B0C0));
    V->SetScaleMode(C.Mode);
    SetCoordinatePicture(*V, 1000, 800);
    V->SetScale(C.Scale);
    V->SetLockScale(true);
    std::unique_ptr<TGraphic> G;
    if (std::string(C.Graphic) == "icon") {
      G = HalfTransparentIcon(32, 32);
    } else if (std::string(C.Graphic) == "bitmap") {
      G = HalfTransparentBitmap(60, 50);
      V->SetTransparent(true);
    } else {
      G = PartlyDrawnMetafile();
    }
    V->Picture()->SetGraphic(std::move(G));
    ASSERT_EQ(V->RenderCacheState(), C.State);
    V->ScrollTo(TPoint{5, 3});
    EXPECT_EQ(Difference(RepaintAll(*V), DirectDrawing(*V)), "");
    // A new background colour reaches the undrawn pixels too.
    V->SetColor(TColor(0x00102030));
    EXPECT_EQ(Difference(RepaintAll(*V), DirectDrawing(*V)), "");
  }
}

TEST(KestImageGraphics, MetafilesAreNeverShownAsEnlargedPixels) {
  const struct {
    int W, H;
  } Sizes[] = {{375, 215}, {1000, 1000}, {3000, 3000}};
  for (const auto& S : Sizes)
    for (int Scale : {4, 16}) {
      SCOPED_TRACE(testing::Message() << S.W << " x " << S.H << " at " << Scale);
      auto V = FixedClientView(300, 200);
      V->SetScale(Scale);
      V->SetLockScale(true);
      V->Picture()->SetGraphic(DiagonalMetafile(S.W, S.H));
      const TPoint Size{V->Picture()->Width(), V->Picture()->Height()};
      V->CenterOn(TPoint{Size.X * Scale / 2, Size.Y * Scale / 2});
      const QImage Shown = RepaintAll(*V);
      EXPECT_EQ(Difference(Shown, DirectDrawing(*V)), "");
      // Where the edge crosses each row, in displayed-picture pixels: drawn
      // at the displayed size it falls on every phase of the scale, enlarged
      // from the picture's own size only on multiples of it.
      std::set<int> Phases;
      for (int Y = 0; Y < Shown.height(); ++Y)
        for (int X = 1; X < Shown.width(); ++X)
          if (Shown.pixel(X, Y) != Shown.pixel(X - 1, Y)) Phases.insert((X + V->Offset().X) % Scale);
      EXPECT_GE(static_cast<int>(Phases.size()), Scale / 2);
    }
}

TEST(KestImageGraphics, SizeLearntAtTheFirstDrawingLaysTheViewOutAgain) {
  // A 16 x 16 icon reads 32 x 32 until it is first drawn.
  const struct {
    double Scale;
    TPoint Range;
  } Cases[] = {{8, TPoint{28, 28}}, {1, TPoint{-84, -84}}, {2, TPoint{-68, -68}}};
  for (const auto& C : Cases) {
    auto V = FixedClientView(100, 100);
    V->SetImageAlignment(iaCenter);
    V->SetLockScale(true);
    V->SetScale(C.Scale);
    V->Picture()->SetGraphic(HalfTransparentIcon(16, 16));
    V->Update();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(V->Picture()->Width(), 16);
    EXPECT_EQ(V->MaxOffset(), C.Range) << C.Scale;
    if (C.Range.X > 0) {
 EXPECT_EQ(V->ScrollBar(SB_HORZ).Max, 127);
 }
    EXPECT_EQ(Difference(RepaintAll(*V), DirectDrawing(*V)), "") << C.Scale;
  }
}

TEST(KestImageGraphics, AnyReportedSizeLaysOutWithoutOverflow) {
  constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
  const std::int32_t Sizes[] = {Min, -(1 << 30) - 5, -300, -1, 1, 300, (1 << 30) + 5, Max};
  auto V = FixedClientView(200, 150);
  V->SetLockScale(true);
  for (TScaleMode Mode : {smNormal, smScale, smResize}) {
    V->SetScaleMode(Mode);
    for (double Scale : {0.5, 3.0}) {
      V->SetScale(Scale);
      for (std::int32_t W : Sizes)
        for (std::int32_t H : Sizes) {
          SCOPED_TRACE(testing::Message() << "mode " << int(Mode) << " scale " << Scale << " " << W << " x " << H);
          V->Picture()->SetGraphic(std::make_unique<TReportedSize>(W, H));
          const TPoint M = V->MaxOffset();
          // A picture of negative extent is never larger than the client area.
          if (W < 0) {
 EXPECT_LE(M.X, 0);
 }
          if (H < 0) {
 EXPECT_LE(M.Y, 0);
 }
          // The end of the range puts the picture's far edge at the client's edge.
          V->ScrollTo(TPoint{Max, Max});
          const TRect R = V->GetImageRect();
          if (M.X > 0) {
 EXPECT_EQ(R.Right, 200);
 }
          if (M.Y > 0) {
 EXPECT_EQ(R.Bottom, 150);
 }
          if (M.X > 0) {
 EXPECT_EQ(V->ScrollBar(SB_HORZ).Max + 1 - std::int64_t{V->ScrollBar(SB_HORZ).Page}, M.X);
 }
          V->Update();
        }
    }
  }
}

}  // namespace
