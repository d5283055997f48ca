// The wheel and the side arrows: they move a picture larger than the view and
// step the files while it fits; F toggles fit and 100 %.
#include "viewer/WheelScroll.h"

#include "viewer/Form1Fixture.h"

namespace {

class WheelScrollTest : public Form1Test {
 protected:
  void SetUp() override {
    Form1Test::SetUp();
    WritePicture(Path("small.jpg"), 40, 30);
    WritePicture(Path("big.jpg"), 1000, 900);
    WritePicture(Path("last.jpg"), 50, 30);
  }
  void OpenAll() {
    std::vector<std::string> P;
    for (const char* N : {"small.jpg", "big.jpg", "last.jpg"}) P.push_back(Path(N).toStdString());
    Form->OpenFiles(P);
  }
  void Turn(QPoint Angle, QPoint Pixels = {}, Qt::KeyboardModifiers M = Qt::NoModifier) {
    QWheelEvent E(QPointF(20, 20), ViewClient()->mapToGlobal(QPointF(20, 20)), Pixels, Angle, Qt::NoButton, M,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(ViewClient(), &E);
  }
  TPoint Offset() const { return Form->KestImage1->Offset(); }
};

TEST_F(WheelScrollTest, TheWheelMovesAPictureLargerThanTheViewAndStepsFilesWhileItFits) {
  Form->ZoomOnOpen().SetOpenZoom(ozActualSize);
  OpenAll();
  Turn(QPoint(0, -120));
  ASSERT_EQ(Form->FileIndex(), 1);  // the small picture fits: the next file
  const struct {
    QPoint Angle, Pixels;
    Qt::KeyboardModifiers M;
    TPoint Move;
  } Turns[] = {
      {{0, -120}, {}, Qt::NoModifier, {0, 60}},           // a notch: three lines
      {{0, 240}, {}, Qt::NoModifier, {0, -120}},
      {{0, -24}, {0, -7}, Qt::NoModifier, {0, 7}},        // a touchpad: its own pixels
      {{0, -120}, {}, Qt::ShiftModifier, {60, 0}},        // Shift: sideways
      {{-120, 0}, {}, Qt::NoModifier, {60, 0}},           // a sideways turn
  };
  for (const auto& T : Turns) {
    const TPoint Before = Offset();
    Turn(T.Angle, T.Pixels, T.M);
    EXPECT_EQ(Offset().X - Before.X, T.Move.X) << T.Angle.x() << "," << T.Angle.y();
    EXPECT_EQ(Offset().Y - Before.Y, T.Move.Y) << T.Angle.x() << "," << T.Angle.y();
    EXPECT_EQ(Form->FileIndex(), 1);
  }
}

TEST_F(WheelScrollTest, SideArrowsStepFilesWhileThePictureFitsAcrossAndScrollOtherwise) {
  Form->ZoomOnOpen().SetOpenZoom(ozActualSize);
  OpenAll();
  Key(Qt::Key_Right);
  ASSERT_EQ(Form->FileIndex(), 1);  // the small picture fits across: the next file
  // The big one is wider than the view: the arrows scroll it.
  for (const auto& [K, Sign] : {std::pair{Qt::Key_Right, 1}, std::pair{Qt::Key_Left, -1}}) {
    const TPoint Before = Offset();
    Key(K);
    EXPECT_EQ(Form->FileIndex(), 1) << K;
    EXPECT_GT((Offset().X - Before.X) * Sign, 0) << K;
  }
  // F fits it: it fits across, and the arrows step files again.
  Key(Qt::Key_F);
  Key(Qt::Key_Right);
  EXPECT_EQ(Form->FileIndex(), 2);
}

}  // namespace
