// The real main window and view on a screen with a device pixel ratio of 2
// (the offscreen platform's screen is configured so): the view works in the
// screen's pixels, Qt's logical geometry and input are mapped at the
// toolkit's edge, and the rest of the window keeps Qt's logical layout.
#include <cmath>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QWindow>

#include "KestImage/Cursors.h"
#include "picture/OpenPictureDialog.h"
#include "support/ViewFixtures.h"
#include "viewer/Form1Fixture.h"

namespace {

class HiDpiForm : public Form1Test {
 protected:
  void SetUp() override {
    Form1Test::SetUp();
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0) << "the test screen is not configured";
  }

  // A picture of W x H pixels at 100 %, shown from its top-left corner.
  void ShowAtActualSize(int W, int H) {
    TCustomKestImage& V = *Form->KestImage1;
    SetCoordinatePicture(V, W, H);
    V.SetScaleMode(smScale);
    V.SetScale(1.0);
    V.ScrollTo(TPoint{0, 0});
    V.Update();
    QApplication::processEvents();
  }

  void Mouse(QEvent::Type T, QPointF P, Qt::MouseButton B, Qt::KeyboardModifiers M = Qt::NoModifier) {
    QWidget* C = ViewClient();
    const Qt::MouseButtons Held = T == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent E(T, P, C->mapToGlobal(P), T == QEvent::MouseMove ? Qt::NoButton : B, Held, M);
    QApplication::sendEvent(C, &E);
  }
};

TEST_F(HiDpiForm, ViewClientCountsDevicePixelsWhileTheLayoutStaysLogical) {
  TCustomKestImage& V = *Form->KestImage1;
  EXPECT_EQ(V.ClientPixelRatio(), 2.0);
  // The client surface covers the client widget's logical size twice over.
  EXPECT_EQ(V.ClientWidth(), 2 * ViewClient()->width());
  EXPECT_EQ(V.ClientHeight(), 2 * ViewClient()->height());
  EXPECT_EQ(V.ClientSurface().size(), QSize(V.ClientWidth(), V.ClientHeight()));
  // Bounds, bars and the other controls stay in Qt's logical units.
  EXPECT_EQ(V.Widget()->width(), V.Width());
  EXPECT_EQ(Form->ToolBar1->Widget()->height(), Form->ToolBar1->Height());
  EXPECT_EQ(Form->ToolBar1->ClientPixelRatio(), 1.0);
  EXPECT_EQ(Form->ClientPixelRatio(), 1.0);
  // The window fits the screen's logical area.
  const QRect A = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(Form->Width(), A.width());
  EXPECT_LE(Form->Height(), A.height());
}

TEST_F(HiDpiForm, AtActualSizeEveryPicturePixelLandsOnOneDevicePixel) {
  ShowAtActualSize(300, 200);
  TCustomKestImage& V = *Form->KestImage1;
  const TRect R = V.GetImageRect();
  ASSERT_EQ(R.Width(), 300);
  ASSERT_EQ(R.Height(), 200);
  // What the client widget presents, read back at the screen's density.
  const QPixmap Shot = ViewClient()->grab();
  ASSERT_EQ(Shot.devicePixelRatio(), 2.0);
  const QImage Screen = Shot.toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(Screen.size(), V.ClientSurface().size());
  int Wrong = 0, WrongShown = 0;
  for (int Y = 0; Y < Screen.height(); ++Y)
    for (int X = 0; X < Screen.width(); ++X) {
      const std::uint32_t Shown = reinterpret_cast<const std::uint32_t*>(Screen.constScanLine(Y))[X];
      if (Shown != SurfacePixel(V, X, Y)) ++WrongShown;
      if (X >= R.Left && X < R.Right && Y >= R.Top && Y < R.Bottom &&
          DecodeCoordinate(Shown) != QPoint(X - R.Left, Y - R.Top))
        ++Wrong;
    }
  EXPECT_EQ(WrongShown, 0) << "the screen differs from the client surface";
  EXPECT_EQ(Wrong, 0) << "picture pixels not one to one on the screen";
}

TEST_F(HiDpiForm, MovingToAScreenOfAnotherRatioRemakesTheClientSurface) {
  const QList<QScreen*> Screens = QGuiApplication::screens();
  ASSERT_EQ(Screens.size(), 2);
  ASSERT_EQ(Screens[1]->devicePixelRatio(), 1.0);
  ShowAtActualSize(300, 200);
  TCustomKestImage& V = *Form->KestImage1;
  QWindow* W = Form->Widget()->windowHandle();
  ASSERT_NE(W, nullptr);
  W->setScreen(Screens[1]);
  QApplication::processEvents();
  EXPECT_EQ(V.ClientPixelRatio(), 1.0);
  EXPECT_EQ(V.ClientWidth(), ViewClient()->width());
  W->setScreen(Screens[0]);
  QApplication::processEvents();
  EXPECT_EQ(V.ClientPixelRatio(), 2.0);
  EXPECT_EQ(V.ClientWidth(), 2 * ViewClient()->width());
  // Painted anew at the new density: the picture one to one again.
  V.Update();
  const TRect R = V.GetImageRect();
  EXPECT_EQ(R.Width(), 300);
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(V, R.Left + 299, R.Top + 199)), QPoint(299, 199));
}

TEST_F(HiDpiForm, ScrollBarsRangeOverDevicePixels) {
  ShowAtActualSize(3000, 2000);
  TCustomKestImage& V = *Form->KestImage1;
  auto* Frame = static_cast<TWindowWidget*>(V.Widget());
  QScrollBar* H = Frame->Bar(SB_HORZ);
  QScrollBar* Vb = Frame->Bar(SB_VERT);
  ASSERT_TRUE(H->isVisible());
  ASSERT_TRUE(Vb->isVisible());
  EXPECT_EQ(H->maximum(), 3000 - V.ClientWidth());
  EXPECT_EQ(H->pageStep(), V.ClientWidth());
  EXPECT_EQ(Vb->maximum(), 2000 - V.ClientHeight());
  EXPECT_EQ(Vb->pageStep(), V.ClientHeight());
  // The bars keep their thickness in Qt's units: twice as many device pixels.
  EXPECT_EQ(Vb->width(), ScrollBarThickness);
  EXPECT_EQ(H->height(), ScrollBarThickness);
}

TEST_F(HiDpiForm, PanFollowsThePointerOneToOneInDevicePixels) {
  ShowAtActualSize(3000, 2000);
  TCustomKestImage& V = *Form->KestImage1;
  V.ScrollTo(TPoint{500, 400});
  Mouse(QEvent::MouseButtonPress, QPointF(100, 80), Qt::LeftButton);
  // 20 x 10 logical units are 40 x 20 pixels of the screen; half a unit is one pixel.
  Mouse(QEvent::MouseMove, QPointF(80, 70), Qt::LeftButton);
  EXPECT_EQ(V.Offset().X, 540);
  EXPECT_EQ(V.Offset().Y, 420);
  Mouse(QEvent::MouseMove, QPointF(79.5, 70.5), Qt::LeftButton);
  EXPECT_EQ(V.Offset().X, 541);
  EXPECT_EQ(V.Offset().Y, 419);
  Mouse(QEvent::MouseButtonRelease, QPointF(79.5, 70.5), Qt::LeftButton);
}

TEST_F(HiDpiForm, CtrlClickZoomsAboutTheDevicePixelUnderThePointer) {
  ShowAtActualSize(3000, 2000);
  TCustomKestImage& V = *Form->KestImage1;
  V.ScrollTo(TPoint{500, 400});
  const TPoint Before = V.Offset();
  const double Scale = V.Scale();
  // Logical (30, 20) is device pixel (60, 40): that picture point becomes the centre.
  Mouse(QEvent::MouseButtonPress, QPointF(30, 20), Qt::LeftButton, Qt::ControlModifier);
  Mouse(QEvent::MouseButtonRelease, QPointF(30, 20), Qt::LeftButton, Qt::ControlModifier);
  ASSERT_GT(V.Scale(), Scale);
  const double Ratio = V.Scale() / Scale;
  const TPoint C = V.GetViewCenter();
  EXPECT_EQ(C.X, static_cast<int>(std::trunc((60 + Before.X) * Ratio)));
  EXPECT_EQ(C.Y, static_cast<int>(std::trunc((40 + Before.Y) * Ratio)));
}

TEST_F(HiDpiForm, CtrlWheelKeepsThePicturePointUnderThePointer) {
  ShowAtActualSize(3000, 2000);
  TCustomKestImage& V = *Form->KestImage1;
  V.ScrollTo(TPoint{500, 400});
  const QPointF At(100, 60);  // device pixel (200, 120)
  const double X = (200 + V.Offset().X) / V.Scale(), Y = (120 + V.Offset().Y) / V.Scale();
  QWheelEvent E(At, ViewClient()->mapToGlobal(At), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(ViewClient(), &E);
  ASSERT_GT(V.Scale(), 1.0);
  EXPECT_NEAR((200 + V.Offset().X) / V.Scale(), X, 1.0 / V.Scale());
  EXPECT_NEAR((120 + V.Offset().Y) / V.Scale(), Y, 1.0 / V.Scale());
}

TEST_F(HiDpiForm, CursorsAndToolBarImagesAreDrawnAtTheDeviceScale) {
  EXPECT_EQ(CursorScale(), 2);
  // The 32 x 32 cursor files become 64 x 64 cursors of whole 2 x 2 blocks.
  const QImage Hand = Screen().CursorFor(crHand).bitmap().toImage();
  ASSERT_EQ(Hand.size(), QSize(64, 64));
  int Ragged = 0;
  for (int Y = 0; Y < 64; Y += 2)
    for (int X = 0; X < 64; X += 2)
      for (QPoint D : {QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
        if (Hand.pixel(X + D.x(), Y + D.y()) != Hand.pixel(X, Y)) ++Ragged;
  EXPECT_EQ(Ragged, 0);
  // A tool button's image at the screen's density: each glyph pixel a 2 x 2 block.
  const QToolButton* B = static_cast<QToolButton*>(Form->ToolButton1->Hosted());
  const QSize Logical = B->iconSize();
  const QImage Big = B->icon().pixmap(Logical, 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(Big.size(), Logical * 2);
  Ragged = 0;
  for (int Y = 0; Y < Big.height(); Y += 2)
    for (int X = 0; X < Big.width(); X += 2)
      for (QPoint D : {QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
        if (Big.pixel(X + D.x(), Y + D.y()) != Big.pixel(X, Y)) ++Ragged;
  EXPECT_EQ(Ragged, 0);
}

TEST_F(HiDpiForm, StatusBarLaysOutInQtUnitsAndDrawsAtTheDeviceScale) {
  TStatusBar& S = *Form->StatusBar;
  auto* Frame = static_cast<TWindowWidget*>(S.Widget());
  EXPECT_EQ(S.ClientWidth(), 2 * Frame->Client()->width());
  // The first panel is 50 units wide: its neighbour starts 52 units, 104 pixels, in.
  EXPECT_EQ(S.PanelRect(1).Left, 2 * (S.Panel(0).Width + 2));
  EXPECT_EQ(S.PanelRect(S.PanelCount() - 1).Right, S.ClientWidth());
  S.SetPanelText(1, "Sharp text");
  S.Update();
  // Text drawn at the screen's density has detail finer than 2 x 2 blocks.
  const QImage& Img = S.ClientSurface();
  const TRect R = S.PanelRect(1);
  int Fine = 0;
  for (int Y = R.Top; Y + 1 < R.Bottom; Y += 2)
    for (int X = R.Left; X + 1 < R.Right; X += 2)
      if (Img.pixel(X + 1, Y) != Img.pixel(X, Y) || Img.pixel(X, Y + 1) != Img.pixel(X, Y)) ++Fine;
  EXPECT_GT(Fine, 0);
}

TEST_F(HiDpiForm, OpenDialogPreviewDrawsThePictureAtTheDeviceScale) {
  // A 2 x 2 picture fitted into a 40 x 40 box: 80 x 80 pixels of the screen,
  // each picture pixel a 40 x 40 block.
  TForm Host(nullptr);
  Host.SetBounds(0, 0, 200, 200);
  TPicture P;
  P.SetGraphic(CoordinateBitmap(2, 2));
  TPictureBox Box(nullptr, &P);
  Box.SetParent(&Host);
  Box.SetBounds(0, 0, 40, 40);
  Box.HandleNeeded();
  Box.Repaint();
  ASSERT_EQ(Box.ClientSurface().size(), QSize(80, 80));
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(Box, 39, 39)), QPoint(0, 0));
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(Box, 40, 39)), QPoint(1, 0));
  EXPECT_EQ(DecodeCoordinate(SurfacePixel(Box, 79, 79)), QPoint(1, 1));
}

TEST_F(HiDpiForm, AWindowLargerThanTheScreenShrinksOntoIt) {
  const QRect A = QGuiApplication::primaryScreen()->availableGeometry();
  TForm Big(nullptr);
  Big.SetBounds(A.width() - 100, 50, A.width() + 500, A.height() + 300);
  Big.Show();
  EXPECT_EQ(Big.Width(), A.width());
  EXPECT_EQ(Big.Height(), A.height());
  EXPECT_EQ(Big.Left(), A.left());
  EXPECT_EQ(Big.Top(), A.top());
}

}  // namespace
