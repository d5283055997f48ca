#include "picture/Bitmap.h"

#include <gtest/gtest.h>

#include "support/PixelMemoryFailure.h"
#include "support/ViewFixtures.h"

namespace {

std::uint32_t Px(TBitmap& B, int X, int Y) { return B.View().PixelAt(X, Y); }

TEST(TBitmap, ResizeKeepsTheTopLeftAndFillsTheRestWithTheBrush) {
  auto B = CoordinateBitmap(100, 100);
  B->SetSize(200, 50);
  EXPECT_EQ(B->Width(), 200);
  EXPECT_EQ(B->Height(), 50);
  for (int Y : {0, 49})
    for (int X : {0, 57, 99}) EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(*B, X, Y)), QPoint(X, Y)) << X << "," << Y;
  EXPECT_EQ(Px(*B, 100, 0), 0xFFFFFFu);
  EXPECT_EQ(Px(*B, 199, 49), 0xFFFFFFu);

  B->Canvas().Brush().Color = clRed;
  B->SetSize(200, 60);
  EXPECT_EQ(Px(*B, 150, 55), 0xFF0000u);
  EXPECT_EQ(Px(*B, 150, 49), 0xFFFFFFu);
}

TEST(TBitmap, ResizeInPlaceReusesMemoryAndKeepsPixels) {
  auto B = CoordinateBitmap(300, 200);
  const auto Allocations = B->AllocationCount();
  B->SetSize(200, 150);  // smaller: same memory, rows moved up
  B->SetSize(290, 180);  // still fits: rows moved apart again
  EXPECT_EQ(B->AllocationCount(), Allocations);
  EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(*B, 199, 149)), QPoint(199, 149));
  EXPECT_EQ(Px(*B, 200, 10), 0xFFFFFFu);
  EXPECT_EQ(Px(*B, 10, 150), 0xFFFFFFu);
}

TEST(TBitmap, ResizeOfSmallFormatsFillsPartialBytes) {
  TBitmap B(10, 2, pf1bit);  // white is index 1
  for (int Y = 0; Y < 2; ++Y) B.ScanLine(Y)[0] = B.ScanLine(Y)[1] = 0;  // all black
  B.SetSize(13, 2);
  EXPECT_EQ(Px(B, 9, 0), 0x000000u);
  EXPECT_EQ(Px(B, 10, 0), 0xFFFFFFu);
  EXPECT_EQ(Px(B, 12, 1), 0xFFFFFFu);
}

TEST(TBitmap, StretchIsNearestNeighbourWithoutSmoothing) {
  auto Src = CoordinateBitmap(4, 3);
  TBitmap Dst(8, 6, pf32bit);
  Dst.Canvas().StretchDraw(TRect{0, 0, 8, 6}, Src.get());
  for (int Y = 0; Y < 6; ++Y)
    for (int X = 0; X < 8; ++X)
      EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(Dst, X, Y)), QPoint(X / 2, Y / 2)) << X << "," << Y;

  // Shrinking drops rows and columns: target d takes source floor((d + 0.5) * 7 / 3).
  auto Wide = CoordinateBitmap(7, 1);
  TBitmap Small(3, 1, pf32bit);
  Small.Canvas().StretchDraw(TRect{0, 0, 3, 1}, Wide.get());
  EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(Small, 0, 0)).x(), 1);
  EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(Small, 1, 0)).x(), 3);
  EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(Small, 2, 0)).x(), 5);
}

TEST(TBitmap, EveryPixelFormatDrawsItsColours) {
  // One red and one blue pixel in each format, drawn at twice their size.
  struct Case {
    TPixelFormat Format;
    std::function<void(TBitmap&)> Fill;
  };
  const Case Cases[] = {
      {pf1bit, [](TBitmap& B) { B.SetColorTable({0xFF0000, 0x0000FF}); B.ScanLine(0)[0] = 0x40; }},
      {pf4bit, [](TBitmap& B) { B.SetColorTable({0, 0xFF0000, 0x0000FF}); B.ScanLine(0)[0] = 0x12; }},
      {pf8bit, [](TBitmap& B) { B.SetColorTable({0, 0xFF0000, 0x0000FF}); B.ScanLine(0)[0] = 1; B.ScanLine(0)[1] = 2; }},
      {pf16bit, [](TBitmap& B) { const std::uint8_t P[] = {0x00, 0xF8, 0x1F, 0x00}; std::memcpy(B.ScanLine(0), P, 4); }},
      {pf24bit, [](TBitmap& B) { const std::uint8_t P[] = {0, 0, 255, 255, 0, 0}; std::memcpy(B.ScanLine(0), P, 6); }},
      {pf32bit, [](TBitmap& B) { const std::uint32_t P[] = {0x00FF0000, 0x000000FF}; std::memcpy(B.ScanLine(0), P, 8); }},
  };
  for (const auto& C : Cases) {
    TBitmap B(2, 1, C.Format);
    C.Fill(B);
    TBitmap Dst(4, 2, pf32bit);
    Dst.Canvas().StretchDraw(TRect{0, 0, 4, 2}, &B);
    EXPECT_EQ(Px(Dst, 1, 1), 0xFF0000u) << static_cast<int>(C.Format);
    EXPECT_EQ(Px(Dst, 2, 0), 0x0000FFu) << static_cast<int>(C.Format);
  }
}

TEST(TBitmap, TransparentSkipsTheBottomLeftColour) {
  TBitmap B(3, 2, pf24bit);
  B.Canvas().Brush().Color = clRed;
  B.Canvas().FillRect(TRect{0, 0, 3, 2});
  B.Canvas().SetPixels(0, 1, clLime);  // bottom-left: the transparent colour
  B.Canvas().SetPixels(2, 0, clLime);
  B.SetTransparent(true);
  EXPECT_EQ(B.TransparentColor(), clLime);
  TBitmap Dst(3, 2, pf32bit);
  Dst.Canvas().Brush().Color = clBlue;
  Dst.Canvas().FillRect(TRect{0, 0, 3, 2});
  Dst.Canvas().Draw(0, 0, &B);
  EXPECT_EQ(Px(Dst, 0, 1), 0x0000FFu);
  EXPECT_EQ(Px(Dst, 2, 0), 0x0000FFu);
  EXPECT_EQ(Px(Dst, 1, 0), 0xFF0000u);
}

TEST(TBitmap, MonochromeDrawsInTheCanvasColours) {
  TBitmap B(8, 1, pf1bit);
  B.ScanLine(0)[0] = 0x0F;  // four black (0) then four white (1) pixels
  EXPECT_TRUE(B.Monochrome());
  EXPECT_EQ(B.TransparentColor(), clWhite);
  TBitmap Dst(8, 1, pf32bit);
  Dst.Canvas().Brush().Color = clYellow;  // background for 1 bits
  Dst.Canvas().Font().Color = clNavy;     // text colour for 0 bits
  Dst.Canvas().Draw(0, 0, &B);
  EXPECT_EQ(Px(Dst, 0, 0), 0x000080u);
  EXPECT_EQ(Px(Dst, 7, 0), 0xFFFF00u);
}

TEST(TBitmap, DrawingIntoAnEightBitSurfaceAverages) {
  TBitmap B(2, 1, pf32bit);
  const std::uint32_t P[] = {0x00000000, 0x00FEFEFE};
  std::memcpy(B.ScanLine(0), P, 8);
  TBitmap Dst(1, 1, pf32bit);
  Dst.Canvas().SetBitsPerPixel(8);
  Dst.Canvas().StretchDraw(TRect{0, 0, 1, 1}, &B);
  EXPECT_EQ(Px(Dst, 0, 0), 0x7F7F7Fu);
}

TEST(TPicture, CopyFromLeavesTheSourceAloneAndNotifiesOnce) {
  TPicture Source;
  Source.SetGraphic(CoordinateBitmap(6, 4));
  TPicture P;
  int Changes = 0;
  P.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &P);
    ++Changes;
  };
  P.CopyFrom(&Source);
  EXPECT_EQ(Changes, 1);
  ASSERT_NE(P.Graphic(), Source.Graphic());
  EXPECT_TRUE(P.Graphic()->Equals(Source.Graphic()));
  static_cast<TBitmap*>(Source.Graphic())->SetSize(1, 1);
  EXPECT_EQ(P.Width(), 6);
  P.CopyFrom(static_cast<const TGraphic*>(nullptr));
  EXPECT_EQ(Changes, 2);
  EXPECT_EQ(P.Width(), 0);
  EXPECT_EQ(P.Height(), 0);
}

TEST(TPicture, ForwardsTheGraphicsNotifications) {
  TPicture P;
  P.SetGraphic(CoordinateBitmap(2, 2));
  int Changes = 0;
  TObject* ProgressSender = nullptr;
  P.OnChange = [&](TObject*) { ++Changes; };
  P.OnProgress = [&](TObject* S, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) {
    ProgressSender = S;
  };
  P.Graphic()->SetTransparent(true);
  EXPECT_EQ(Changes, 1);
  P.Graphic()->Progress(P.Graphic(), psStarting, 0, false, TRect{}, "");
  EXPECT_EQ(ProgressSender, P.Graphic());  // the graphic, not the picture
}

}  // namespace

namespace {

TEST(TBitmap, StrongReductionsAreKeptButFollowEveryChange) {
  auto B = CoordinateBitmap(400, 300);
  auto Reduced = [&] {
    TBitmap Dst(25, 20, pf32bit);
    Dst.Canvas().StretchDraw(TRect{0, 0, 25, 20}, B.get());
    return Dst.Canvas().Surface()->copy();
  };
  // What sampling straight from the pixels gives.
  QImage Direct(25, 20, QImage::Format_RGB32);
  StretchBlt(Direct, TRect{0, 0, 25, 20}, nullptr, B->View(), TRect{0, 0, 400, 300});
  EXPECT_EQ(Reduced(), Direct);
  EXPECT_EQ(Reduced(), Direct);  // drawn again from what was kept

  // Target pixel (0, 0) shows source pixel (8, 7): change it in three ways.
  reinterpret_cast<std::uint32_t*>(B->ScanLine(7))[8] = 0xFF123456u;
  EXPECT_EQ(Reduced().pixel(0, 0) & 0xFFFFFF, 0x123456u);
  std::uint32_t* Row = reinterpret_cast<std::uint32_t*>(B->ScanLine(7));
  Reduced();
  Row[8] = 0xFF654321u;  // written through a pointer taken before the drawing
  B->PixelsChanged();
  EXPECT_EQ(Reduced().pixel(0, 0) & 0xFFFFFF, 0x654321u);
  B->Canvas().SetPixels(8, 7, clRed);
  EXPECT_EQ(Reduced().pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
}

}  // namespace

namespace {

// Memory that runs out: every change of size or format completes or leaves the
// bitmap as it was (a loader's AllocateImage leaves it empty), and whatever
// reads the pixels afterwards works.

struct TFailingChange {
  const char* Name;
  std::function<void(TBitmap& B, const TBitmap& Other)> Change;
  bool EmptyAfter;
};

class BitmapMemoryFailure : public testing::TestWithParam<TFailingChange> {};

TEST_P(BitmapMemoryFailure, LeavesAWholeBitmap) {
  const TFailingChange& C = GetParam();
  auto B = CoordinateBitmap(40, 30);
  B->SetPixelFormat(pf24bit);
  const auto Other = CoordinateBitmap(50, 20);
  TBitmap Before;
  Before.Assign(B.get());
  {
    TPixelMemoryFailure Fail;
    try {
      C.Change(*B, *Other);
      FAIL() << "no error";
    } catch (const EOSError& E) {
      EXPECT_EQ(E.Message(), OutOfMemoryMessage);
      EXPECT_EQ(E.ErrorCode(), 12);
    }
    EXPECT_GT(Fail.Failures(), 0);
  }
  if (C.EmptyAfter) {
    EXPECT_TRUE(B->Empty());
    EXPECT_EQ(B->Width(), 0);
    EXPECT_EQ(B->Height(), 0);
  } else {
    EXPECT_TRUE(B->Equals(&Before));
    EXPECT_EQ(B->PixelFormat(), pf24bit);
  }
  // Copying, saving, comparing, the transparent colour, drawing.
  TBitmap Copy;
  Copy.Assign(B.get());
  EXPECT_TRUE(Copy.Equals(B.get()));
  TMemoryStream S;
  B->WriteData(S);
  S.SetPosition(0);
  TBitmap Read;
  Read.ReadData(S);
  EXPECT_EQ(Read.Width(), B->Width());
  EXPECT_EQ(Read.Height(), B->Height());
  EXPECT_EQ(B->TransparentColor(), C.EmptyAfter ? clWhite : Before.TransparentColor());
  TBitmap Dst(8, 8);
  Dst.Canvas().StretchDraw(TRect{0, 0, 8, 8}, B.get());
  // A resize that keeps the content, as the view's cache does on a zoom step.
  B->SetSize(60, 20);
  EXPECT_EQ(B->Width(), 60);
  if (!C.EmptyAfter) {
    EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(*B, 39, 19)), QPoint(39, 19));
  }
  EXPECT_EQ(Px(*B, 59, 19), 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    TBitmap, BitmapMemoryFailure,
    testing::Values(TFailingChange{"GrowKeepingTheContent", [](TBitmap& B, const TBitmap&) { B.SetSize(4000, 3000); },
                                   false},
                    TFailingChange{"GrowWithoutTheContent",
                                   [](TBitmap& B, const TBitmap&) { B.SetSize(4000, 3000, false); }, false},
                    TFailingChange{"Width", [](TBitmap& B, const TBitmap&) { B.SetWidth(5000); }, false},
                    TFailingChange{"PixelFormat", [](TBitmap& B, const TBitmap&) { B.SetPixelFormat(pf8bit); }, false},
                    TFailingChange{"CanvasOfAnotherFormat",
                                   [](TBitmap& B, const TBitmap&) { B.Canvas().SetPixels(0, 0, clRed); }, false},
                    TFailingChange{"Assign", [](TBitmap& B, const TBitmap& Other) { B.Assign(&Other); }, false},
                    TFailingChange{"AllocateImage",
                                   [](TBitmap& B, const TBitmap&) { B.AllocateImage(100, 100, 24, false); }, true}),
    [](const testing::TestParamInfo<TFailingChange>& I) { return std::string(I.param.Name); });

TEST(TBitmap, ShrinkingToATinyImageWithoutMemoryKeepsTheLargeBuffer) {
  auto B = CoordinateBitmap(600, 500);
  {
    TPixelMemoryFailure Fail;
    B->SetSize(1, 1);
  }
  EXPECT_EQ(B->Width(), 1);
  EXPECT_EQ(DecodeCoordinate(0xFF000000u | Px(*B, 0, 0)), QPoint(0, 0));
  B->SetSize(2, 1);
  EXPECT_EQ(Px(*B, 1, 0), 0xFFFFFFu);
}

TEST(TPicture, CopyWithoutMemoryIsTheSystemErrorAndKeepsThePicture) {
  TPicture Source;
  Source.SetGraphic(CoordinateBitmap(6, 4));
  TPicture P;
  P.SetGraphic(CoordinateBitmap(2, 2));
  int Changes = 0;
  P.OnChange = [&](TObject*) { ++Changes; };
  {
    TPixelMemoryFailure Fail;
    try {
      P.CopyFrom(&Source);
      FAIL() << "no error";
    } catch (const EOSError& E) {
      EXPECT_EQ(E.Message(), OutOfMemoryMessage);
    }
  }
  EXPECT_EQ(P.Width(), 2);
  EXPECT_EQ(Changes, 0);
  P.CopyFrom(&Source);
  EXPECT_EQ(P.Width(), 6);
}

}  // namespace
