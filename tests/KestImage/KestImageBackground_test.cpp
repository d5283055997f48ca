#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "picture/jpeg/Jpeg.h"
#include "support/BackgroundTesting.h"
#include "support/JpegFiles.h"
#include "support/ViewFixtures.h"

namespace {

std::unique_ptr<TJPEGImage> LoadJpeg(const std::vector<std::uint8_t>& Bytes) {
  auto J = std::make_unique<TJPEGImage>();
  auto S = TMemoryStream::Over(Bytes);
  J->LoadFromStream(*S);
  return J;
}

bool AllBackground(TCustomKestImage& V) {
  const QImage& S = V.ClientSurface();
  for (int Y = 0; Y < S.height(); ++Y)
    for (int X = 0; X < S.width(); ++X)
      if ((S.pixel(X, Y) & 0xFFFFFF) != (ColorToPixel(V.Color()) & 0xFFFFFF)) return false;
  return true;
}

struct TViewCase {
  const char* Name;
  TScaleMode Mode;
  double Scale;
};

TEST(KestImageBackground, ShowsTheBackgroundThenThePictureOfTheDecodeAtDrawing) {
  const auto Bytes = MakeJpeg({300, 200, false, 2, 2, true});
  const TViewCase Cases[] = {
      {"own size, scrolled", smNormal, 1.0},
      {"zoomed, scrolled", smScale, 1.5},
      {"zoomed, fits", smScale, 0.25},
      {"stretched", smStretch, 1.0},
  };
  for (const TViewCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::unique_ptr<TKestImage> Views[2];
    std::vector<TProgressStage> Stages[2];
    for (int I = 0; I < 2; ++I) {
      Views[I] = FixedClientView(120, 90);
      TKestImage& V = *Views[I];
      V.SetScaleMode(C.Mode);
      V.SetLockScale(true);
      V.SetScale(C.Scale);
      V.SetBackgroundDecoding(I == 1);
      V.OnProgress = [&S = Stages[I]](TObject*, TProgressStage Stage, std::uint8_t, bool, const TRect&,
                                      const std::string&) { S.push_back(Stage); };
      V.Picture()->SetGraphic(LoadJpeg(Bytes));
      V.ScrollTo(TPoint{7, 5});
      V.Update();
    }
    TKestImage& Back = *Views[1];
    EXPECT_FALSE(Views[0]->Decoding());
    EXPECT_TRUE(Back.Decoding());
    EXPECT_TRUE(AllBackground(Back));
    const TPoint Offset = Back.Offset();
    const double Scale = Back.Scale();
    RunEventsUntil([&] { return !Back.Decoding(); });
    Back.Update();
    EXPECT_EQ(Difference(Back.ClientSurface(), Views[0]->ClientSurface()), "");
    EXPECT_EQ(Stages[1], Stages[0]);
    // The end of the decode is no change of the picture: zoom and position stay.
    EXPECT_EQ(Back.Offset(), Offset);
    EXPECT_EQ(Back.Scale(), Scale);
  }
}

TEST(KestImageBackground, AnotherPictureAbandonsTheDecode) {
  auto V = FixedClientView(120, 90);
  V->SetBackgroundDecoding(true);
  int Notifications = 0;
  V->OnProgress = [&](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) {
    ++Notifications;
  };
  V->Picture()->SetGraphic(LoadJpeg(MakeJpeg({600, 400, false, 2, 2, true})));
  V->Update();
  ASSERT_TRUE(V->Decoding());
  SetCoordinatePicture(*V, 50, 40);
  for (int I = 0; I < 20; ++I) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(Notifications, 0);
  V->Update();
  EXPECT_EQ(Difference(V->ClientSurface(), DirectDrawing(*V)), "");
}


// A view showing a picture at a quarter decodes a draft on the worker thread;
// zooming to its own size decodes the full picture there, and both show what
// the decode at drawing shows.
TEST(KestImageBackground, DraftFirstThenTheFullPictureOnZoom) {
  const auto Bytes = MakeJpeg({480, 320, false, 2, 2, true});
  std::unique_ptr<TKestImage> Views[2];
  for (int I = 0; I < 2; ++I) {
    Views[I] = FixedClientView(120, 90);
    Views[I]->SetScaleMode(smScale);
    Views[I]->SetLockScale(true);
    Views[I]->SetScale(0.25);
    Views[I]->SetBackgroundDecoding(I == 1);
    Views[I]->Picture()->SetGraphic(LoadJpeg(Bytes));
    Views[I]->Update();
  }
  TKestImage& Back = *Views[1];
  auto& J = static_cast<TJPEGImage&>(*Back.Picture()->Graphic());
  RunEventsUntil([&] { return !Back.Decoding(); });
  Back.Update();
  EXPECT_FALSE(J.Decoded());
  ASSERT_NE(J.Draft(), nullptr);
  EXPECT_EQ(J.DraftShift(), 2);
  EXPECT_EQ(Difference(Back.ClientSurface(), Views[0]->ClientSurface()), "");

  for (auto& V : Views) {
    V->SetScale(1.0);
    V->ScrollTo(TPoint{100, 60});
    V->Update();
  }
  EXPECT_TRUE(Back.Decoding());
  // Meanwhile the draft stands in, enlarged.
  QImage Expected(Back.ClientWidth(), Back.ClientHeight(), QImage::Format_RGB32);
  Expected.fill(ColorToPixel(Back.Color()));
  TCanvas C([&] { return &Expected; });
  C.StretchDraw(Back.GetImageRect(), const_cast<TBitmap*>(J.Draft()));
  EXPECT_FALSE(AllBackground(Back));
  EXPECT_EQ(Difference(Back.ClientSurface(), Expected), "");
  EXPECT_TRUE(Back.Decoding());
  RunEventsUntil([&] { return !Back.Decoding(); });
  Back.Update();
  EXPECT_TRUE(J.Decoded());
  EXPECT_EQ(J.Draft(), nullptr);
  EXPECT_EQ(Difference(Back.ClientSurface(), Views[0]->ClientSurface()), "");
}

// With incremental display on, a graphic that shows decodes in progress shows
// the rows its worker has decoded at each repaint the decode asks for; without
// progressive display the background stays until the picture is whole.
TEST(KestImageBackground, IncrementalDisplayShowsTheRowsDecodedSoFar) {
  const auto Bytes = MakeJpeg({120, 600});
  for (bool Progressive : {true, false}) {
    SCOPED_TRACE(Progressive);
    auto V = FixedClientView(120, 90);
    V->SetBackgroundDecoding(true);
    V->SetIncrementalDisplay(true);
    int Repaints = 0, Shown = 0;
    V->OnProgress = [&](TObject*, TProgressStage Stage, std::uint8_t, bool Redraw, const TRect&,
                        const std::string&) {
      if (Stage != psRunning || !Redraw) return;
      ++Repaints;
      if (!AllBackground(*V)) ++Shown;
    };
    auto J = LoadJpeg(Bytes);
    J->SetProgressiveDisplay(Progressive);
    TClock Clock;
    J->SetTickSource([&Clock] { return Clock.Read(); });
    V->Picture()->SetGraphic(std::move(J));
    V->Update();
    ASSERT_TRUE(V->Decoding());
    RunEventsUntil([&] { return !V->Decoding(); });
    EXPECT_GT(Repaints, 1);
    EXPECT_EQ(Shown, Progressive ? Repaints : 0);
  }
}

}  // namespace
