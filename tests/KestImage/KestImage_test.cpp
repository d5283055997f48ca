#include "KestImage/KestImage.h"

#include <gtest/gtest.h>

#include "support/ViewFixtures.h"
#include "toolkit/StoredLayout.h"

namespace {

std::vector<std::string> DefaultScaleTexts() {
  return {"00.10", "00.25", "00.50", "00.75", "01.00", "01.50", "02.00", "04.00", "08.00"};
}

TEST(TKestImage, ConstructionDefaults) {
  TKestImage V(nullptr);
  EXPECT_EQ(V.Scale(), 1.0);
  EXPECT_EQ(V.ScaleMode(), smScale);
  EXPECT_TRUE(V.HideScrollBars());
  EXPECT_FALSE(V.LockScale());
  EXPECT_EQ(V.BorderStyle(), bsSingle);
  EXPECT_EQ(V.ImageAlignment(), iaTopLeft);
  EXPECT_FALSE(V.IncrementalDisplay());
  EXPECT_FALSE(V.Transparent());
  EXPECT_EQ(V.Width(), 192);
  EXPECT_EQ(V.Height(), 192);
  EXPECT_EQ(V.Picture()->Graphic(), nullptr);
  EXPECT_EQ(V.StandardScales()->ToVector(), DefaultScaleTexts());
  EXPECT_TRUE(V.StandardScales()->Sorted());
  EXPECT_TRUE(V.ControlStyle().Contains(csReplicatable));
  EXPECT_EQ(V.Offset(), (TPoint{0, 0}));
  EXPECT_EQ(V.MaxOffset(), (TPoint{0, 0}));
  EXPECT_EQ(V.RenderCache().Width(), 0);
  EXPECT_EQ(V.RenderCacheState(), cstScaled);  // 0 until the first layout
}

TEST(TKestImage, SavedDefaultsDecideWhatIsWritten) {
  InitializeKestImageUnit();
  TComponent Root(nullptr);
  auto* V = Root.Own(std::make_unique<TKestImage>(&Root));
  V->SetName("KestImage1");
  const std::string Text = WriteLayout(Root);
  for (const char* Written : {"Scale = 1.0", "ImageAlignment = iaTopLeft", "StandardScales.Strings = ("})
    EXPECT_NE(Text.find(Written), std::string::npos) << Written << "\n" << Text;
  for (const char* NotWritten : {"ScaleMode", "HideScrollBars", "LockScale", "BorderStyle", "IncrementalDisplay",
                                 "Transparent ="})
    EXPECT_EQ(Text.find(NotWritten), std::string::npos) << NotWritten << "\n" << Text;
}

TEST(TKestImage, StoredLayoutRoundTripKeepsTheValues) {
  InitializeKestImageUnit();
  TComponent Root(nullptr);
  auto* V = Root.Own(std::make_unique<TKestImage>(&Root));
  V->SetName("KestImage1");
  V->SetBounds(8, 40, 673, 425);
  V->SetScale(2.5);
  V->SetScaleMode(smResize);
  V->SetLockScale(true);
  V->SetImageAlignment(iaCenter);
  V->SetHideScrollBars(false);
  V->SetBorderStyle(bsNone);
  V->SetTabStop(true);
  V->SetCursor(crHand);
  V->SetAnchors(TAnchors{akLeft, akTop, akRight, akBottom});
  V->StandardScales()->Clear();
  V->StandardScales()->AddStrings({"1", "3"});
  const std::string Text = WriteLayout(Root);

  TComponent Root2(nullptr);
  ReadLayout(Root2, Text);
  auto* W = dynamic_cast<TKestImage*>(Root2.FindComponent("KestImage1"));
  ASSERT_NE(W, nullptr);
  EXPECT_EQ(W->BoundsRect(), V->BoundsRect());
  EXPECT_EQ(W->Scale(), 2.5);
  EXPECT_EQ(W->ScaleMode(), smResize);
  EXPECT_TRUE(W->LockScale());
  EXPECT_EQ(W->ImageAlignment(), iaCenter);
  EXPECT_FALSE(W->HideScrollBars());
  EXPECT_EQ(W->BorderStyle(), bsNone);
  EXPECT_TRUE(W->TabStop());
  EXPECT_EQ(W->Cursor(), crHand);
  EXPECT_EQ(W->Anchors(), (TAnchors{akLeft, akTop, akRight, akBottom}));
  EXPECT_EQ(W->StandardScales()->ToVector(), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(WriteLayout(Root2), Text);
}

// Reading a layout builds the cache at its end, from every property read: the
// same cache as the view that was written.
TEST(TKestImage, StoredLayoutBuildsTheCacheFromAllItsValues) {
  InitializeKestImageUnit();
  TComponent Root(nullptr);
  auto* V = Root.Own(std::make_unique<TKestImage>(&Root));
  V->SetName("KestImage1");
  V->SetBounds(0, 0, 120, 90);
  V->SetLockScale(true);
  V->SetResampling(rsSmooth);
  V->SetColor(clYellow);
  SetCoordinatePicture(*V, 300, 200);
  V->SetScale(0.75);
  ASSERT_EQ(V->RenderCacheState(), cstScaled);
  const std::string Text = WriteLayout(Root);

  TComponent Root2(nullptr);
  ReadLayout(Root2, Text);
  auto* W = dynamic_cast<TKestImage*>(Root2.FindComponent("KestImage1"));
  ASSERT_NE(W, nullptr);
  ASSERT_EQ(W->RenderCacheState(), cstScaled);
  ASSERT_EQ(W->RenderCache().Width(), V->RenderCache().Width());
  ASSERT_EQ(W->RenderCache().Height(), V->RenderCache().Height());
  for (int Y = 0; Y < V->RenderCache().Height(); ++Y)
    for (int X = 0; X < V->RenderCache().Width(); ++X)
      ASSERT_EQ(W->RenderCache().View().PixelAt(X, Y), V->RenderCache().View().PixelAt(X, Y)) << X << "," << Y;
}

TEST(TKestImage, LoadingFiresNoScaleChangeButLaterWritesDo) {
  InitializeKestImageUnit();
  int Calls = 0;
  TComponent Root(nullptr);
  Root.RegisterMethod("ScaleChanged", TNotifyEvent([&](TObject*) { ++Calls; }));
  ReadLayout(Root,
             "object Root: TComponent\n"
             "  object KestImage1: TKestImage\n"
             "    OnScaleChange = ScaleChanged\n"
             "    Scale = 3.0\n"
             "  end\n"
             "end\n");
  auto* V = static_cast<TKestImage*>(Root.FindComponent("KestImage1"));
  EXPECT_EQ(V->Scale(), 3.0);
  EXPECT_EQ(Calls, 0);
  EXPECT_FALSE(V->ComponentState().Contains(csLoading));
  V->SetScale(2.0);
  EXPECT_EQ(Calls, 1);
}

TEST(TKestImage, PictureWriteCopiesAndLeavesTheCallersObject) {
  TKestImage V(nullptr);
  TPicture Mine;
  Mine.SetGraphic(CoordinateBitmap(30, 20));
  TGraphic* MyGraphic = Mine.Graphic();
  V.SetPicture(&Mine);
  EXPECT_EQ(Mine.Graphic(), MyGraphic);
  EXPECT_NE(V.Picture(), &Mine);
  EXPECT_NE(V.Picture()->Graphic(), MyGraphic);
  EXPECT_EQ(V.Picture()->Width(), 30);
  static_cast<TBitmap*>(MyGraphic)->SetSize(5, 5);
  EXPECT_EQ(V.Picture()->Width(), 30);
}

TEST(TKestImage, PlainWritesStoreWithoutRepaintingOrLayout) {
  auto V = FixedClientView(100, 100);
  SetCoordinatePicture(*V, 300, 300);
  V->Update();
  int Offsets = 0;
  V->OnOffsetChange = [&](TObject*) { ++Offsets; };
  V->SetLockScale(true);
  V->SetIncrementalDisplay(true);
  EXPECT_TRUE(V->InvalidRegion().isEmpty());
  EXPECT_EQ(Offsets, 0);
  // Transparent with its current value runs nothing either.
  V->SetTransparent(false);
  EXPECT_TRUE(V->InvalidRegion().isEmpty());
  EXPECT_EQ(Offsets, 0);
}

}  // namespace
