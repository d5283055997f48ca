// The zoom each opened picture comes at, the kind of zoom Lock Zoom keeps,
// the scale shown in every mode, and the refit after full screen.
#include "viewer/ZoomOnOpen.h"

#include "viewer/Form1Fixture.h"

namespace {

class ZoomOnOpenTest : public Form1Test {
 protected:
  void SetUp() override {
    Form1Test::SetUp();
    // Wider than the 669 x 421 client: fitted at 42 %.
    WritePicture(Path("big.jpg"), 1600, 500);
    WritePicture(Path("tall.jpg"), 300, 842);  // fitted at 50 %
    WritePicture(Path("small.jpg"), 40, 30);
  }
  // The window manager's sizes and the refits they cause.
  static void Settle() {
    for (int I = 0; I < 5; ++I) QApplication::processEvents();
  }
  std::string Zoom() const { return Form->StatusBar->Panel(0).Text; }
  void OpenFiles(std::initializer_list<const char*> Names) {
    std::vector<std::string> P;
    for (const char* N : Names) P.push_back(Path(N).toStdString());
    Form->OpenFiles(P);
  }
};

TEST_F(ZoomOnOpenTest, EachPictureOpensAtTheSettingsZoom) {
  const struct {
    TOpenZoom Setting;
    const char* Big;
    const char* Small;
  } Cases[] = {{ozFitLarge, "42%", "100%"}, {ozActualSize, "100%", "100%"}, {ozKeep, "150%", "150%"}};
  for (const auto& C : Cases) {
    Form->ZoomOnOpen().SetOpenZoom(C.Setting);
    Form->KestImage1->SetScale(1.5);
    OpenFiles({"big.jpg", "small.jpg"});
    EXPECT_EQ(Zoom(), C.Big) << int{C.Setting};
    EXPECT_EQ(Combo()->currentText().toStdString(), C.Big) << int{C.Setting};
    Click(Form->ToolButton7);  // next
    EXPECT_EQ(Zoom(), C.Small) << int{C.Setting};
  }
}

TEST_F(ZoomOnOpenTest, LockZoomKeepsTheKindOfZoom) {
  OpenFiles({"big.jpg", "tall.jpg", "small.jpg"});
  Click(Form->tbLock);
  Click(Form->ToolButton7);
  EXPECT_EQ(Zoom(), "50%");  // fitted anew, not left at 42 %
  Click(Form->ToolButton7);
  EXPECT_EQ(Zoom(), "100%");  // never enlarged
  // Best Fit enlarges, and so does every next fit then.
  Click(Form->ToolButton11);
  EXPECT_EQ(Zoom(), "1403%");
  Click(Form->ToolButton5);  // first
  EXPECT_EQ(Zoom(), "42%");
  Click(Form->ToolButton12);  // last
  EXPECT_EQ(Zoom(), "1403%");
  // A chosen zoom stays that zoom.
  Click(Form->ToolButton5);
  Click(Form->ToolButton8);  // zoom in
  Click(Form->ToolButton12);
  EXPECT_EQ(Zoom(), "50%");
}

TEST_F(ZoomOnOpenTest, ResizeAndStretchShowTheScaleShown) {
  OpenFiles({"big.jpg"});
  Form->KestImage1->SetScale(3);
  Click(Form->tbResize);
  EXPECT_EQ(Zoom(), "42%");
  Click(Form->tbStretch);
  EXPECT_EQ(Zoom(), "Stretch");  // 42 % across, 84 % down
  Click(Form->tbStretch);
  EXPECT_EQ(Zoom(), "300%");
}

TEST_F(ZoomOnOpenTest, FullScreenAndBackRefitAFittedPicture) {
  OpenFiles({"big.jpg"});
  const double Window = Form->KestImage1->Scale();
  // A double click on the picture goes to full screen and back, as F11 does.
  for (bool ByClick : {false, true}) {
    for (bool Full : {true, false}) {
      if (ByClick)
        QTest::mouseDClick(ViewClient(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
      else
        Key(Qt::Key_F11);
      Settle();
      ASSERT_EQ(Form->IsFullScreen(), Full);
      EXPECT_EQ(Form->KestImage1->Scale(), Form->KestImage1->GetFitScale());
      if (Full) {
        EXPECT_GT(Form->KestImage1->Scale(), Window);
      }
    }
    EXPECT_EQ(Form->KestImage1->Scale(), Window);
  }
}

}  // namespace
