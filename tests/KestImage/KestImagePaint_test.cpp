// Picture binding, the render cache and painting.
#include <gtest/gtest.h>

#include <cstring>

#include <QCoreApplication>

#include "support/ViewFixtures.h"

namespace {

TEST(KestImagePaint, CacheStateFollowsModeAndScrolling) {
  auto V = FixedClientView(200, 150);
  const struct {
    TScaleMode Mode;
    int W, H;
    double Scale;
    TCacheState State;
    int CacheW, CacheH;
  } Cases[] = {
      {smNormal, 300, 300, 1, cstUnscaled, 300, 300},     {smNormal, 300, 100, 1, cstUnscaledHorz, 300, 100},
      {smNormal, 100, 300, 1, cstUnscaledVert, 100, 300}, {smNormal, 100, 100, 1, cstNone, 1, 1},
      {smScale, 100, 100, 1, cstNone, 1, 1},              {smScale, 100, 100, 2.5, cstScaled, 250, 250},
      {smScale, 101, 101, 1.5, cstScaled, 152, 152},      {smStretch, 300, 300, 1, cstNone, 1, 1},
      {smResize, 300, 300, 1, cstNone, 1, 1},             {smScale, 300, 100, 0.5, cstNone, 1, 1},
  };
  for (const auto& C : Cases) {
    V->SetScaleMode(C.Mode);
    V->SetLockScale(true);
    SetCoordinatePicture(*V, C.W, C.H);
    V->SetScale(C.Scale);
    V->SetScaleMode(smScale);
    V->SetScaleMode(C.Mode);
    EXPECT_EQ(V->RenderCacheState(), C.State) << C.Mode << " " << C.W << "x" << C.H << " at " << C.Scale;
    EXPECT_EQ(V->RenderCache().Width(), C.CacheW);
    EXPECT_EQ(V->RenderCache().Height(), C.CacheH);
  }
  V->SetPicture(nullptr);
  EXPECT_EQ(V->RenderCacheState(), cstNone);
}

TEST(KestImagePaint, CacheLimitIsTwelveMegapixels) {
  auto V = FixedClientView(800, 600);
  SetCoordinatePicture(*V, 2048, 2048);
  V->SetScale(1.5);
  EXPECT_EQ(V->RenderCacheState(), cstScaled);
  EXPECT_EQ(V->RenderCache().Width(), 3072);
  V->SetScale(2);  // 4096 x 4096 is over the limit: the picture's own size serves
  EXPECT_EQ(V->RenderCacheState(), cstUnscaled);
  EXPECT_EQ(V->RenderCache().Width(), 2048);

  V->SetScaleMode(smNormal);
  SetCoordinatePicture(*V, 4096, 3072);  // exactly 12,582,912 pixels
  EXPECT_EQ(V->RenderCacheState(), cstNone);
  SetCoordinatePicture(*V, 4096, 3071);
  EXPECT_EQ(V->RenderCacheState(), cstUnscaled);
}

TEST(KestImagePaint, RebuildingReusesTheCachesMemory) {
  auto V = FixedClientView(800, 600);
  SetCoordinatePicture(*V, 2048, 2048);
  V->SetScale(1.5);
  const auto Allocations = V->RenderCache().AllocationCount();
  V->SetScale(1.0);
  V->SetScale(1.5);
  EXPECT_EQ(V->RenderCache().AllocationCount(), Allocations);
  EXPECT_EQ(V->RenderCache().Width(), 3072);
}

TEST(KestImagePaint, MapToCacheRoundsHalvesToEven) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 100);
  V->SetScale(4);
  V->ScrollTo(TPoint{101, 0});
  ASSERT_EQ(V->Offset(), (TPoint{101, 0}));
  EXPECT_EQ(V->MapToCache(TRect{10, 10, 30, 30}), (TRect{28, 2, 33, 8}));
  V->SetScaleMode(smNormal);
  V->ScrollTo(TPoint{101, 0});
  EXPECT_EQ(V->MapToCache(TRect{10, 10, 30, 30}), (TRect{111, 10, 131, 30}));
}

TEST(KestImagePaint, EveryCacheStatePaintsWhatDirectDrawingShows) {
  const struct {
    TScaleMode Mode;
    double Scale;
    int W, H;
    TImageAlignment Alignment;
    TCacheState State;
  } Cases[] = {
      {smNormal, 1, 500, 400, iaCenter, cstUnscaled},     {smNormal, 1, 500, 100, iaCenter, cstUnscaledHorz},
      {smNormal, 1, 123, 400, iaTopRight, cstUnscaledVert}, {smNormal, 1, 100, 80, iaCenter, cstNone},
      {smScale, 2, 300, 200, iaCenter, cstScaled},        {smScale, 3, 300, 20, iaTopLeft, cstScaled},
      {smScale, 0.5, 100, 100, iaCenter, cstNone},        {smStretch, 1, 70, 50, iaTopLeft, cstNone},
      {smResize, 1, 700, 500, iaCenter, cstNone},
  };
  for (const auto& C : Cases) {
    auto V = FixedClientView(320, 240);
    V->SetImageAlignment(C.Alignment);
    V->SetScaleMode(C.Mode);
    SetCoordinatePicture(*V, C.W, C.H);
    V->SetScale(C.Scale);
    ASSERT_EQ(V->RenderCacheState(), C.State) << C.W << "x" << C.H;
    V->ScrollTo(TPoint{37, 23});
    EXPECT_EQ(RepaintAll(*V), DirectDrawing(*V)) << C.Mode << " " << C.W << "x" << C.H << " at " << C.Scale;
  }
}

TEST(KestImagePaint, UnscaledCacheAtFractionalScalesMatchesDirectDrawingAcrossStrips) {
  // A picture over the cache limit at this scale is zoomed from its own size
  // while painting; strips uncovered by small scrolls must line up.
  auto V = FixedClientView(300, 200);
  SetCoordinatePicture(*V, 2900, 2900);
  V->SetScale(1.37);
  ASSERT_EQ(V->RenderCacheState(), cstUnscaled);
  RepaintAll(*V);
  for (int Step = 0; Step < 12; ++Step) {
    V->ScrollTo(TPoint{V->Offset().X + 7, V->Offset().Y + 3});
    V->Update();
  }
  EXPECT_EQ(V->ClientSurface(), DirectDrawing(*V));
}

TEST(KestImagePaint, PanStepRepaintsOnlyTheUncoveredStrip) {
  class TCounting : public TKestImage {
   public:
    using TKestImage::TKestImage;
    std::int64_t Painted = 0;

   protected:
    void Paint() override {
      const TRect C = Canvas().ClipRect();
      Painted += std::int64_t{C.Width()} * C.Height();
      TKestImage::Paint();
    }
  } V(nullptr);
  V.SetBorderStyle(bsNone);
  V.SetBounds(0, 0, 417, 317);
  SetCoordinatePicture(V, 2000, 2000);
  V.Update();
  V.Painted = 0;
  V.InputMouseDown(mbLeft, TShiftState{ssLeft}, 200, 150);
  V.InputMouseMove(TShiftState{ssLeft}, 192, 150);
  V.Update();
  EXPECT_EQ(V.Offset(), (TPoint{8, 0}));
  EXPECT_EQ(V.Painted, 8 * 300);
}

// A graphic that fails to draw: into anything larger than itself, or always.
class TFailingGraphic : public TBitmap {
 public:
  TFailingGraphic() : TBitmap(64, 64, pf32bit) {}
  bool FailAlways = false;
  void DrawInto(TCanvas& C, const TRect& R) override {
    if (FailAlways || R.Width() > Width()) throw EInvalidGraphic("cannot draw");
    TBitmap::DrawInto(C, R);
  }
};

TEST(KestImagePaint, FailedCacheBuildsFallBackQuietly) {
  auto V = FixedClientView(50, 50);
  V->SetLockScale(true);
  V->SetScale(2);
  V->Picture()->SetGraphic(std::make_unique<TFailingGraphic>());
  EXPECT_EQ(V->RenderCacheState(), cstUnscaled);  // scaled build failed, unscaled worked
  static_cast<TFailingGraphic*>(V->Picture()->Graphic())->FailAlways = true;
  V->SetScale(3);
  EXPECT_EQ(V->RenderCacheState(), cstNone);
}

// A graphic that reports a change at its first drawing, as one that decodes
// there does, and counts its drawings; its first drawing may also resize it,
// as a graphic that learns its size by decoding does.
class TChangingOnFirstDrawing : public TBitmap {
 public:
  explicit TChangingOnFirstDrawing(bool Resize) : TBitmap(200, 150, pf32bit), FResize(Resize) { Paint(); }
  int Drawings = 0;
  void DrawInto(TCanvas& C, const TRect& R) override {
    if (Drawings++ == 0) {
      if (FResize) {
        SetSize(120, 90);
        Paint();
      }
      Changed(this);
    }
    TBitmap::DrawInto(C, R);
  }

 private:
  void Paint() {
    const auto Source = CoordinateBitmap(Width(), Height());
    for (int Y = 0; Y < Height(); ++Y)
      std::memcpy(ScanLine(Y), Source->ScanLine(Y), static_cast<std::size_t>(Width()) * 4);
  }
  bool FResize;
};

TEST(KestImagePaint, AChangeReportedWhileTheCacheIsBuiltRebuildsOnlyWhatChanged) {
  for (const bool Resize : {false, true}) {
    // Shown whole at first, the picture is not drawn until a zoom builds the cache.
    auto V = FixedClientView(150, 150);
    V->SetLockScale(true);
    V->SetScale(0.5);
    auto G = std::make_unique<TChangingOnFirstDrawing>(Resize);
    auto* Raw = G.get();
    V->Picture()->SetGraphic(std::move(G));
    ASSERT_EQ(Raw->Drawings, 0);
    V->SetScale(2);
    // The same picture at the same size is drawn once; one that changed size
    // is drawn again at its new size.
    EXPECT_EQ(Raw->Drawings, Resize ? 2 : 1);
    ASSERT_EQ(V->RenderCacheState(), cstScaled);
    const int W = Resize ? 120 : 200, H = Resize ? 90 : 150;
    ASSERT_EQ(V->RenderCache().Width(), 2 * W);
    ASSERT_EQ(V->RenderCache().Height(), 2 * H);
    for (const QPoint P : {QPoint(0, 0), QPoint(W - 1, H - 1), QPoint(W / 2, 7)})
      EXPECT_EQ(DecodeCoordinate(V->RenderCache().View().PixelAt(2 * P.x() + 1, 2 * P.y() + 1)), P) << Resize;
  }
}

// Erasing writes the background at once into a window that has been painted;
// one whose whole client area a pending paint erases anyway is left to it.
TEST(KestImagePaint, EraseBackgroundWritesAtOnceIntoAPaintedWindow) {
  auto V = FixedClientView(50, 40);
  SetCoordinatePicture(*V, 30, 20);
  V->Update();
  ASSERT_FALSE(V->EraseRequested());
  const std::uint32_t Background = ColorToPixel(V->Color()) & 0xFFFFFFu;
  ASSERT_NE(SurfacePixel(*V, 3, 4) & 0xFFFFFFu, Background);
  V->EraseBackground();
  for (int Y = 0; Y < 40; ++Y)
    for (int X = 0; X < 50; ++X) ASSERT_EQ(SurfacePixel(*V, X, Y) & 0xFFFFFFu, Background) << X << "," << Y;
  // Made larger, the window is erased whole by its next paint, which shows the picture again.
  V->SetBounds(0, 0, 70 + ScrollBarThickness, 60 + ScrollBarThickness);
  ASSERT_TRUE(V->EraseRequested());
  V->EraseBackground();
  V->Update();
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(*V, 3, 4)), QPoint(3, 4));
  EXPECT_EQ(SurfacePixel(*V, 65, 55) & 0xFFFFFFu, Background);
}

TEST(KestImagePaint, ExceptionWhilePaintingRestoresTheDrawingFlag) {
  auto V = FixedClientView(100, 100);
  auto G = std::make_unique<TFailingGraphic>();
  G->FailAlways = true;
  V->Picture()->SetGraphic(std::move(G));
  ASSERT_EQ(V->RenderCacheState(), cstNone);
  V->Invalidate();
  EXPECT_THROW(V->Update(), EInvalidGraphic);
  EXPECT_FALSE(V->Drawing());
}

TEST(KestImagePaint, NewPictureResetsTheScaleUnlessLocked) {
  auto V = FixedClientView(100, 100);
  int Events = 0;
  V->OnScaleChange = [&](TObject*) { ++Events; };
  V->SetScale(2.5);
  Events = 0;
  SetCoordinatePicture(*V, 40, 40);
  EXPECT_EQ(V->Scale(), 1.0);
  EXPECT_EQ(Events, 1);
  SetCoordinatePicture(*V, 40, 40);  // already 1.0: no event
  EXPECT_EQ(Events, 1);
  V->SetScale(2.5);
  V->SetLockScale(true);
  Events = 0;
  SetCoordinatePicture(*V, 40, 40);
  EXPECT_EQ(V->Scale(), 2.5);
  EXPECT_EQ(Events, 0);
}

TEST(KestImagePaint, OpaqueOnlyForAnUntransparentGraphicCoveringTheControl) {
  TKestImage V(nullptr);
  V.SetBounds(0, 0, 120, 90);
  const struct {
    int W, H;
    bool Transparent;
    bool Opaque;
  } Cases[] = {{120, 90, false, true}, {500, 500, false, true}, {119, 90, false, false},
               {120, 89, false, false}, {120, 90, true, false}};
  for (const auto& C : Cases) {
    V.SetTransparent(C.Transparent);
    SetCoordinatePicture(V, C.W, C.H);
    EXPECT_EQ(V.ControlStyle().Contains(csOpaque), C.Opaque) << C.W << "x" << C.H;
  }
  V.SetPicture(nullptr);
  EXPECT_FALSE(V.ControlStyle().Contains(csOpaque));
}

TEST(KestImagePaint, TransparentReachesBitmapsButNotIcons) {
  TKestImage V(nullptr);
  SetCoordinatePicture(V, 10, 10);
  V.SetTransparent(true);
  EXPECT_TRUE(V.Picture()->Graphic()->Transparent());
  V.SetTransparent(false);
  EXPECT_FALSE(V.Picture()->Graphic()->Transparent());
  V.Picture()->SetGraphic(std::make_unique<TIcon>());
  V.SetTransparent(false);
  V.SetTransparent(true);
  EXPECT_TRUE(V.Picture()->Graphic()->Transparent());  // an icon keeps its own
}

TEST(KestImagePaint, ProgressRepaintsAtOnceOnlyWithIncrementalDisplay) {
  class TCounting : public TKestImage {
   public:
    using TKestImage::TKestImage;
    int Paints = 0;

   protected:
    void Paint() override {
      ++Paints;
      TKestImage::Paint();
    }
  } V(nullptr);
  // The graphic notes whether the view says it is drawing while it draws.
  class TWatching : public TBitmap {
   public:
    TWatching(TCustomKestImage* View) : TBitmap(10, 10, pf32bit), FView(View) {}
    bool SawDrawing = false;
    void DrawInto(TCanvas& C, const TRect& R) override {
      SawDrawing = FView->Drawing();
      TBitmap::DrawInto(C, R);
    }
    void Assign(const TPersistent*) override {}

   private:
    TCustomKestImage* FView;
  };
  V.Picture()->SetGraphic(std::make_unique<TWatching>(&V));
  V.Update();
  std::vector<int> Seen;
  TObject* Sender = nullptr;
  V.OnProgress = [&](TObject* S, TProgressStage, std::uint8_t Percent, bool, const TRect& R, const std::string&) {
    Sender = S;
    Seen.push_back(Percent);
    EXPECT_EQ(R, (TRect{0, 1, 2, 3}));
  };
  TGraphic* G = V.Picture()->Graphic();
  V.Paints = 0;
  G->Progress(G, psRunning, 40, true, TRect{0, 1, 2, 3}, "");
  EXPECT_EQ(V.Paints, 0);
  V.SetIncrementalDisplay(true);
  G->Progress(G, psRunning, 60, true, TRect{0, 1, 2, 3}, "");
  EXPECT_EQ(V.Paints, 1);
  EXPECT_TRUE(static_cast<TWatching*>(G)->SawDrawing);
  EXPECT_FALSE(V.Drawing());
  G->Progress(G, psRunning, 70, false, TRect{0, 1, 2, 3}, "");
  EXPECT_EQ(V.Paints, 1);
  EXPECT_EQ(Seen, (std::vector<int>{40, 60, 70}));
  EXPECT_EQ(Sender, G);
}

TEST(KestImagePaint, ChangedPaletteAsksTheActiveFormOnce) {
  class TPaletteForm : public TForm {
   public:
    using TForm::TForm;
    int Queries = 0;

   protected:
    void WndProc(TMessage& M) override {
      if (M.Msg == WM_QUERYNEWPALETTE) ++Queries;
      TForm::WndProc(M);
    }
  } Form(nullptr);
  Form.SetBounds(0, 0, 300, 200);
  TKestImage V(nullptr);
  V.SetParent(&Form);
  auto Paletted = [] {
    auto B = std::make_unique<TBitmap>(8, 8, pf8bit);
    B->SetPaletteModified(true);
    TPicture P;
    P.SetGraphic(std::move(B));
    return P.Graphic()->Clone();
  };
  // An inactive form: the flag stays for a later try.
  V.Picture()->SetGraphic(Paletted());
  EXPECT_TRUE(V.Picture()->Graphic()->PaletteModified());
  QCoreApplication::processEvents();
  EXPECT_EQ(Form.Queries, 0);

  Form.Show();
  V.Picture()->SetGraphic(Paletted());
  EXPECT_FALSE(V.Picture()->Graphic()->PaletteModified());
  EXPECT_EQ(Form.Queries, 0);  // posted, not sent
  QCoreApplication::processEvents();
  EXPECT_EQ(Form.Queries, 1);

  // A graphic without a palette just loses the flag.
  auto Plain = CoordinateBitmap(4, 4);
  Plain->SetPaletteModified(true);
  V.Picture()->SetGraphic(std::move(Plain));
  EXPECT_FALSE(V.Picture()->Graphic()->PaletteModified());
  Form.Close();
}

}  // namespace
