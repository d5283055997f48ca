// Scale writes, zoom steps through the standard scales and the percent text.
#include <gtest/gtest.h>

#include "support/ViewFixtures.h"
#include "toolkit/SysUtils.h"

namespace {

struct SeparatorGuard {
  char Saved = FormatSettings().DecimalSeparator;
  ~SeparatorGuard() { FormatSettings().DecimalSeparator = Saved; }
};

TEST(KestImageScale, WritesAreClampedAndUnchangedValuesDoNothing) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 100, 100);
  int Events = 0;
  V->OnScaleChange = [&](TObject* S) {
    EXPECT_EQ(S, V.get());
    ++Events;
  };
  const struct {
    double Written, Stored;
  } Cases[] = {{0, 0.001}, {-3, 0.001}, {0.0005, 0.001}, {5000, 1000}, {2.5, 2.5}, {1000, 1000}};
  for (const auto& C : Cases) {
    V->SetScale(1.0);
    Events = 0;
    V->SetScale(C.Written);
    EXPECT_EQ(V->Scale(), C.Stored) << C.Written;
    EXPECT_EQ(Events, 1) << C.Written;
  }
  Events = 0;
  V->SetScale(1000);
  EXPECT_EQ(Events, 0);
}

TEST(KestImageScale, WritesOutsideScaleModeOnlyStore) {
  for (TScaleMode M : {smNormal, smStretch, smResize}) {
    auto V = FixedClientView(400, 300);
    SetCoordinatePicture(*V, 1000, 800);
    V->SetScaleMode(M);
    const TPoint Range = V->MaxOffset(), Offset = V->Offset();
    V->Update();
    int Events = 0;
    V->OnScaleChange = [&](TObject*) { ++Events; };
    V->SetScale(3);
    EXPECT_EQ(V->Scale(), 3);
    EXPECT_EQ(Events, 0);
    EXPECT_EQ(V->MaxOffset(), Range);
    EXPECT_EQ(V->Offset(), Offset);
    EXPECT_TRUE(V->InvalidRegion().isEmpty());
  }
}

TEST(KestImageScale, ZoomingKeepsTheViewCentre) {
  // A 1000 x 800 picture in a 400 x 300 client area.
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->ScrollTo(TPoint{300, 250});
  V->SetScale(2.0);
  EXPECT_EQ(V->MaxOffset(), (TPoint{1600, 1300}));
  EXPECT_EQ(V->Offset(), (TPoint{800, 650}));  // centre (500, 400) became (1000, 800)

  V->ScrollTo(TPoint{1600, 1300});
  V->SetScale(1.0);
  EXPECT_EQ(V->MaxOffset(), (TPoint{600, 500}));
  EXPECT_EQ(V->Offset(), (TPoint{200, 175}));

  V->SetScale(2.0);
  V->ScrollTo(TPoint{1600, 1300});
  V->Zoom(zkOut, -1, -1);
  EXPECT_EQ(V->Scale(), 1.5);
  EXPECT_EQ(V->Offset(), (TPoint{1100, 900}));
}

TEST(KestImageScale, ZoomStepsThroughTheListAndStopsAtItsEnds) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 100, 100);
  const struct {
    double From;
    TZoomKind Kind;
    double To;
  } Cases[] = {
      {1.0, zkIn, 1.5},   {1.0, zkOut, 0.75}, {1.2, zkIn, 1.5},   {1.2, zkOut, 1.0},  {8.0, zkIn, 8.0},
      {8.0, zkOut, 4.0},  {10, zkIn, 8.0},    {10, zkOut, 8.0},   {0.1, zkIn, 0.25},  {0.1, zkOut, 0.1},
      {0.05, zkIn, 0.1},  {0.05, zkOut, 0.1}, {0.001, zkOut, 0.1}, {1000, zkIn, 8.0},
  };
  for (const auto& C : Cases) {
    V->SetScale(C.From);
    V->Zoom(C.Kind, -1, -1);
    EXPECT_EQ(V->Scale(), C.To) << C.From << (C.Kind == zkIn ? " in" : " out");
  }
  V->SetScale(1.0);
  std::vector<double> Ins;
  for (int I = 0; I < 5; ++I) {
    V->Zoom(zkIn, -1, -1);
    Ins.push_back(V->Scale());
  }
  EXPECT_EQ(Ins, (std::vector<double>{1.5, 2.0, 4.0, 8.0, 8.0}));
}

TEST(KestImageScale, ZoomStepsGoByValueWhateverTheTextOrder) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 100, 100);
  V->SetStandardScales(TStringList{"2", "10", "0.5"});  // kept as "0.5", "10", "2"
  const struct {
    double From;
    TZoomKind Kind;
    double To;
  } Cases[] = {
      {1.0, zkIn, 2},   {3, zkOut, 2},  {3, zkIn, 10},     {2, zkIn, 10},      {10, zkOut, 2},
      {10, zkIn, 10},   {20, zkIn, 10}, {20, zkOut, 10},   {0.5, zkOut, 0.5},  {0.25, zkOut, 0.5},
      {0.25, zkIn, 0.5}, {2, zkOut, 0.5},
  };
  for (const auto& C : Cases) {
    V->SetScale(C.From);
    V->Zoom(C.Kind, -1, -1);
    EXPECT_EQ(V->Scale(), C.To) << C.From << (C.Kind == zkIn ? " in" : " out");
  }
  EXPECT_EQ(V->StandardScales()->ToVector(), (std::vector<std::string>{"0.5", "10", "2"}));
}

// A view whose bars come and go with the picture, as in the viewer.
std::unique_ptr<TKestImage> HidingBarsView(int ClientW, int ClientH) {
  auto V = std::make_unique<TKestImage>(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetBounds(0, 0, ClientW, ClientH);
  return V;
}

TEST(KestImageScale, BestFitIsTheSameFromEveryZoomAndNeedsNoBars) {
  const struct {
    int W, H;
    double Fit;
  } Pictures[] = {{1000, 800, 317.0 / 800}, {834, 634, 0.5}, {2000, 300, 417.0 / 2000}};
  for (const auto& P : Pictures) {
    for (double From : {0.1, 1.0, 2.0, 8.0}) {
      auto V = HidingBarsView(417, 317);
      SetCoordinatePicture(*V, P.W, P.H);
      V->SetScale(From);
      for (int Twice = 0; Twice < 2; ++Twice) {
        V->Zoom(zkBestFit, -1, -1);
        EXPECT_EQ(V->Scale(), P.Fit) << P.W << "x" << P.H << " from " << From;
        EXPECT_FALSE(V->ScrollBar(SB_HORZ).Visible);
        EXPECT_FALSE(V->ScrollBar(SB_VERT).Visible);
        EXPECT_LE(V->MaxOffset().X, 0);
        EXPECT_LE(V->MaxOffset().Y, 0);
      }
    }
  }
}

TEST(KestImageScale, ResizeModeFitsTheRoomTheBarsLeave) {
  // Bars that hide: the whole window; bars that stay: what they leave.
  for (bool Hide : {true, false}) {
    auto V = HidingBarsView(417, 317);
    V->SetHideScrollBars(Hide);
    SetCoordinatePicture(*V, 834, 634);
    V->SetScale(3);
    V->SetScaleMode(smResize);
    const TRect R = V->GetImageRect();
    EXPECT_EQ(R.Width(), Hide ? 417 : 394) << Hide;
    EXPECT_LE(R.Height(), V->ClientHeight());
    EXPECT_EQ(V->ClientWidth(), Hide ? 417 : 400);
  }
}

TEST(KestImageScale, ZoomNeedsAPictureAndScaleMode) {
  auto V = FixedClientView(400, 300);
  int Events = 0;
  V->OnScaleChange = [&](TObject*) { ++Events; };
  V->Zoom(zkIn, -1, -1);
  V->Zoom(zkBestFit, -1, -1);
  EXPECT_EQ(V->Scale(), 1.0);
  SetCoordinatePicture(*V, 100, 100);
  V->SetScaleMode(smNormal);
  V->Zoom(zkIn, -1, -1);
  EXPECT_EQ(V->Scale(), 1.0);
  EXPECT_EQ(Events, 0);
}

TEST(KestImageScale, BestFitUsesTheSmallerRatioAndGoesToTheOrigin) {
  auto V = FixedClientView(400, 300);
  EXPECT_EQ(V->GetFitScale(), 0);
  SetCoordinatePicture(*V, 800, 300);
  EXPECT_EQ(V->GetFitScale(), 0.5);
  SetCoordinatePicture(*V, 200, 150);
  EXPECT_EQ(V->GetFitScale(), 2.0);  // a tie takes the height ratio
  V->Zoom(zkBestFit, 17, 17);
  EXPECT_EQ(V->Scale(), 2.0);
  EXPECT_EQ(V->Offset(), (TPoint{0, 0}));
}

TEST(KestImageScale, AnchorIsCarriedToTheNewScale) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->ScrollTo(TPoint{100, 100});
  V->Zoom(zkIn, 500, -1);  // x anchor given, y from the view centre (250)
  EXPECT_EQ(V->Scale(), 1.5);
  EXPECT_EQ(V->GetViewCenter(), (TPoint{750, 375}));
}

TEST(KestImageScale, EmptyListChangesNothingButBestFitWorks) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 800, 600);
  V->StandardScales()->Clear();
  V->Zoom(zkIn, -1, -1);
  V->Zoom(zkOut, -1, -1);
  EXPECT_EQ(V->Scale(), 1.0);
  V->Zoom(zkBestFit, -1, -1);
  EXPECT_EQ(V->Scale(), 0.5);
}

TEST(KestImageScale, PercentText) {
  TKestImage V(nullptr);
  const struct {
    double Scale;
    const char* Text;
  } Out[] = {{1.0, "100%"}, {1.5, "150%"}, {0.125, "13%"}, {0.001, "0%"}, {1000, "100000%"}};
  for (const auto& C : Out) {
    V.SetScale(C.Scale);
    EXPECT_EQ(V.GetScaleText(), C.Text);
  }
  const struct {
    const char* Text;
    double Scale;
  } In[] = {{"150%", 1.5}, {"1.5", 0.15}, {"-50%", 0.5}, {"2,000%", 20}, {"abc", 20}, {"0%", 20},
            {"99999999999", 20}, {"", 20}, {"2147483647", 1000}};
  V.SetScale(1.0);
  for (const auto& C : In) {
    V.SetScaleText(C.Text);
    EXPECT_EQ(V.Scale(), C.Scale) << C.Text;
  }
}

TEST(KestImageScale, StandardScalesWriteValidatesEveryEntryFirst) {
  TKestImage V(nullptr);
  try {
    V.SetStandardScales(TStringList{"2", "10", "abc"});
    FAIL();
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "'abc' is not a valid Scale value.");
  }
  EXPECT_EQ(V.StandardScales()->Count(), 9);
  V.SetStandardScales(TStringList{"2", "10", "2"});
  EXPECT_EQ(V.StandardScales()->ToVector(), (std::vector<std::string>{"10", "2"}));
  // Writing the view's own list back keeps it.
  V.SetStandardScales(*V.StandardScales());
  EXPECT_EQ(V.StandardScales()->ToVector(), (std::vector<std::string>{"10", "2"}));
}

TEST(KestImageScale, EntriesFollowTheLocalesDecimalSeparator) {
  SeparatorGuard G;
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 1000, 800);
  V->ScrollTo(TPoint{50, 60});
  FormatSettings().DecimalSeparator = ',';
  // The default entries do not convert here: the step fails before anything changes.
  int Events = 0;
  V->OnScaleChange = [&](TObject*) { ++Events; };
  EXPECT_THROW(V->Zoom(zkIn, -1, -1), EConvertError);
  EXPECT_EQ(V->Scale(), 1.0);
  EXPECT_EQ(V->Offset(), (TPoint{50, 60}));
  EXPECT_EQ(Events, 0);
  EXPECT_THROW(V->SetStandardScales(TStringList{"1.5"}), Exception);
  V->SetStandardScales(TStringList{"1,5", "3"});
  V->Zoom(zkIn, -1, -1);
  EXPECT_EQ(V->Scale(), 1.5);
}

TEST(KestImageScale, SmallerPictureIsReclampedAfterTheScaleChange) {
  auto V = FixedClientView(400, 300);
  SetCoordinatePicture(*V, 300, 200);
  V->SetImageAlignment(iaCenter);
  V->SetScale(1.5);  // 450 x 300: wider than the client, exactly as high
  EXPECT_EQ(V->MaxOffset(), (TPoint{50, 0}));
  V->SetScale(0.5);  // 150 x 100: centred on both axes
  EXPECT_EQ(V->MaxOffset(), (TPoint{-250, -200}));
  EXPECT_EQ(V->Offset(), (TPoint{-125, -100}));
}

}  // namespace
