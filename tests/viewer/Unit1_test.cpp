#include "viewer/Unit1.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "support/JpegFiles.h"
#include "toolkit/WidgetControl.h"
#include "viewer/Form1Fixture.h"

namespace {

// Takes the browser requests the program makes.
class TUrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Urls;
 public slots:
  void handle(const QUrl& Url) { Urls << Url; }
};

TEST_F(Form1Test, StartsAt100PercentWithTheViewFocusedAndNavigationDisabled) {
  EXPECT_EQ(Form->Caption(), "TKestImage Demo");
  EXPECT_EQ(Form->ClientWidth(), 689);
  EXPECT_EQ(Form->ClientHeight(), 494);
  EXPECT_TRUE(Form->KestImage1->Focused());
  EXPECT_EQ(Form->KestImage1->ScaleMode(), smScale);
  EXPECT_EQ(Form->KestImage1->ImageAlignment(), iaCenter);
  EXPECT_EQ(Combo()->currentText().toStdString(), "100%");
  EXPECT_EQ(Combo()->count(), 9);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "100%");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "Load Files");
  EXPECT_EQ(Navigation(), "----");
  for (const TAction* A : {Form->FileOpen1, Form->LockZoom, Form->ZoomIn, Form->ZoomOut, Form->BestFit,
                           Form->Stretch, Form->Resize})
    EXPECT_TRUE(A->Enabled()) << A->Name();
  for (const TToolButton* B : {Form->tbLock, Form->tbResize, Form->tbStretch}) EXPECT_FALSE(B->Down()) << B->Name();
  // The tool tip is the hint's short part.
  EXPECT_EQ(Form->ToolButton1->Widget()->toolTip().toStdString(), "Open");
  EXPECT_EQ(Form->Label2->Widget()->toolTip().toStdString(), "Hold down CTRL and SHIFT for zoom options.");
  // The status bar ends 7 pixels before the link, whose right edge keeps 10 pixels to the window's.
  EXPECT_EQ(Form->StatusBar->Left() + Form->StatusBar->Width() + 7, Form->Label1->Left());
  EXPECT_EQ(Form->Label1->Left() + Form->Label1->Width(), 679);
  EXPECT_EQ(Shown(), "1073x653");
}

TEST_F(Form1Test, ToolButtonsSitWhereTheBarPlacesThem) {
  const std::pair<TControl*, int> Expected[] = {
      {Form->ToolButton1, 5},   {Form->ToolButton3, 28},  {Form->ToolButton11, 43}, {Form->ToolButton8, 66},
      {Form->ToolButton10, 89}, {Form->Panel1, 112},      {Form->tbLock, 225},      {Form->ToolButton4, 248},
      {Form->tbResize, 261},    {Form->tbStretch, 284},   {Form->ToolButton17, 307}, {Form->ToolButton5, 321},
      {Form->ToolButton6, 344}, {Form->ToolButton7, 367}, {Form->ToolButton12, 390}};
  for (const auto& [C, Left] : Expected) EXPECT_EQ(C->Left(), Left) << C->Name();
}

TEST_F(Form1Test, TypedTextIsAppliedWhenEnterMovesTheFocusToTheView) {
  const struct {
    const char* Typed;
    double Scale;
    const char* Text;
  } Cases[] = {
      {"250", 2.5, "250%"},
      {"2,5", 0.25, "25%"},  // only the digits count
      {"75%", 0.75, "75%"},
  };
  for (const auto& C : Cases) {
    TypeIntoBox(QString::fromLatin1(C.Typed));
    EXPECT_DOUBLE_EQ(Form->KestImage1->Scale(), C.Scale) << C.Typed;
    EXPECT_EQ(Combo()->currentText().toStdString(), C.Text) << C.Typed;
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, C.Text) << C.Typed;
    EXPECT_TRUE(Form->KestImage1->Focused()) << C.Typed;
  }
  // The Enter never reached the box, which would have added an item.
  EXPECT_EQ(Combo()->count(), 9);
}

TEST_F(Form1Test, TextThatIsNoZoomIsRefusedAndTheBoxShowsTheZoomAgain) {
  for (const char* Typed : {"abc", "0"}) {
    TypeIntoBox(Typed);
    EXPECT_DOUBLE_EQ(Form->KestImage1->Scale(), 1.0) << Typed;
    EXPECT_EQ(Combo()->currentText().toStdString(), "100%") << Typed;
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, "100%") << Typed;
  }
}

TEST_F(Form1Test, ZoomActionsStepThroughTheStandardScales) {
  Click(Form->ToolButton8);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "150%");
  Click(Form->ToolButton10);
  Click(Form->ToolButton10);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "75%");
  EXPECT_EQ(Combo()->currentText().toStdString(), "75%");
}

TEST_F(Form1Test, ZoomTextsShowTheScaleShownInEveryMode) {
  // The sample (1073 x 653) in the 669 x 421 client: fitted at 62 %, stretched
  // at 62 % across and 64 % down. A zoom chosen meanwhile shows once the mode
  // is released.
  const struct {
    TToolButton* TForm1::*Mode;
    TScaleMode Expected;
    const char* Shown;
  } Modes[] = {{&TForm1::tbStretch, smStretch, "Stretch"}, {&TForm1::tbResize, smResize, "62%"}};
  int Item = 5;
  for (const auto& M : Modes) {
    Click(Form->*M.Mode);
    ASSERT_EQ(Form->KestImage1->ScaleMode(), M.Expected);
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, M.Shown) << M.Shown;
    Combo()->setCurrentIndex(++Item);
    emit Combo()->activated(Item);
    EXPECT_EQ(Combo()->currentText().toStdString(), M.Shown) << M.Shown;
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, M.Shown) << M.Shown;
    Click(Form->*M.Mode);
    EXPECT_EQ(Form->KestImage1->ScaleMode(), smScale);
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, Combo()->itemText(Item).toStdString()) << M.Shown;
  }
}

TEST_F(Form1Test, TheListHighlightsTheZoomShownAndAChoiceGivesTheFocusBack) {
  Form->ComboBox1->SetFocus();
  Combo()->setCurrentIndex(6);
  emit Combo()->activated(6);
  EXPECT_TRUE(Form->KestImage1->Focused());  // the next wheel notch steps the files
  Click(Form->ToolButton8);                  // 200 % -> 400 %
  EXPECT_EQ(Combo()->currentIndex(), 7);
  TypeIntoBox("333");
  EXPECT_EQ(Combo()->currentIndex(), -1);  // no entry for 333 %
  EXPECT_EQ(Combo()->currentText().toStdString(), "333%");
}

TEST_F(Form1Test, ResizeAndStretchLetAtMostOneBeDownAndBothUp) {
  const struct {
    TToolButton* TForm1::*Clicked;
    bool ResizeDown, StretchDown;
    TScaleMode Mode;
  } Steps[] = {
      {&TForm1::tbResize, true, false, smResize},
      {&TForm1::tbStretch, false, true, smStretch},  // pressing one releases the other
      {&TForm1::tbStretch, false, false, smScale},   // and the pressed one may be released
      {&TForm1::tbStretch, false, true, smStretch},
      {&TForm1::tbResize, true, false, smResize},
      {&TForm1::tbResize, false, false, smScale},
  };
  int Step = 0;
  for (const auto& S : Steps) {
    Click(Form->*S.Clicked);
    EXPECT_EQ(Form->tbResize->Down(), S.ResizeDown) << "step " << Step;
    EXPECT_EQ(Form->tbStretch->Down(), S.StretchDown) << "step " << Step;
    EXPECT_EQ(Form->KestImage1->ScaleMode(), S.Mode) << "step " << Step;
    EXPECT_EQ(static_cast<QToolButton*>(Form->tbResize->Hosted())->isChecked(), S.ResizeDown) << "step " << Step;
    ++Step;
  }
}

TEST_F(Form1Test, LockZoomKeepsTheScaleWhenAnotherFileIsShown) {
  WritePicture(Path("a.jpg"), 40, 30);
  WritePicture(Path("b.jpg"), 50, 20);
  Open({"a.jpg", "b.jpg"});
  Click(Form->ToolButton8);
  Click(Form->tbLock);
  ASSERT_TRUE(Form->KestImage1->LockScale());
  Open({"b.jpg", "a.jpg"});
  EXPECT_EQ(Shown(), "50x20");
  EXPECT_DOUBLE_EQ(Form->KestImage1->Scale(), 1.5);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "150%");
  EXPECT_EQ(Combo()->currentText().toStdString(), "150%");
  // Unlocked, the next file comes at 100 %.
  Click(Form->tbLock);
  Click(Form->ToolButton7);
  EXPECT_EQ(Shown(), "40x30");
  EXPECT_DOUBLE_EQ(Form->KestImage1->Scale(), 1.0);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "100%");
}

TEST_F(Form1Test, FiveFilesAreSteppedWithTheActionsAndTheWheel) {
  QStringList Names;
  for (int I = 1; I <= 5; ++I) {
    Names << QString("f%1.jpg").arg(I);
    WritePicture(Folder.filePath(Names.back()), 10 * I, 7);
  }
  Open(Names);
  EXPECT_EQ(Shown(), "10x7");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "f1.jpg");
  EXPECT_EQ(Navigation(), "--NL");
  Wheel(120);  // away from the user at the first file: nothing
  EXPECT_EQ(Shown(), "10x7");
  for (int I = 0; I < 4; ++I) Click(Form->ToolButton7);
  EXPECT_EQ(Shown(), "50x7");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "f5.jpg");
  EXPECT_EQ(Navigation(), "FP--");
  Click(Form->ToolButton5);
  EXPECT_EQ(Shown(), "10x7");
  Click(Form->ToolButton12);
  EXPECT_EQ(Shown(), "50x7");
  Click(Form->ToolButton6);
  EXPECT_EQ(Shown(), "40x7");
  EXPECT_EQ(Navigation(), "FPNL");
  Wheel(-240);  // two notches towards the user: two files on, stopping at the last
  EXPECT_EQ(Shown(), "50x7");
  Wheel(60);
  EXPECT_EQ(Shown(), "50x7");  // half a notch waits
  Wheel(60);
  EXPECT_EQ(Shown(), "40x7");
  // While the zoom box has the focus the wheel does not change the file.
  Form->ComboBox1->SetFocus();
  Wheel(-120);
  EXPECT_EQ(Shown(), "40x7");
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Form1Test, AFirstFileThatFailsIsReportedAndTheNextOneStillShows) {
  WriteBytes(Path("bad.bmp"), "not a bitmap at all");
  WritePicture(Path("good.jpg"), 33, 22);
  const std::string Before = Shown();
  Open({"bad.bmp", "good.jpg"});
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0], App->Title() + ": \"bad.bmp\" is not a picture (Bitmap image is not valid.)");
  EXPECT_EQ(Shown(), Before);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "bad.bmp");
  EXPECT_EQ(Form->Caption(), "bad.bmp (1/2) - TKestImage Demo");
  // The index has moved to the failed file: Next and Last would move on.
  EXPECT_EQ(Navigation(), "--NL");
  EXPECT_EQ(Form->FileIndex(), 0);
  Click(Form->ToolButton7);  // next (the wheel scrolls the sample, which is taller than the view)
  EXPECT_EQ(Shown(), "33x22");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "good.jpg");
  EXPECT_EQ(Navigation(), "FP--");
}

TEST_F(Form1Test, CtrlOOpensTheDialogFromTheZoomBoxAndACancelEmptiesTheSelection) {
  WritePicture(Path("a.jpg"), 12, 9);
  Open({"a.jpg"});
  ASSERT_EQ(Shown(), "12x9");
  EXPECT_EQ(Navigation(), "----");  // one file: nowhere to go
  Form->ComboBox1->SetFocus();
  CancelNextDialog(Folder.path());
  QTest::keyClick(Combo()->lineEdit(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(Form->OpenPictureDialog->SelectedFiles().Count(), 0);
  EXPECT_EQ(Shown(), "12x9");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "a.jpg");
  EXPECT_FALSE(Combo()->currentText().contains('o', Qt::CaseInsensitive));
}

TEST_F(Form1Test, ReopeningTheSameSelectionShowsItsFirstFileAgain) {
  WritePicture(Path("a.jpg"), 12, 9);
  WritePicture(Path("b.jpg"), 14, 9);
  Open({"a.jpg", "b.jpg"});
  Click(Form->ToolButton8);
  ASSERT_EQ(Form->StatusBar->Panel(0).Text, "150%");
  Open({"a.jpg", "b.jpg"});
  EXPECT_EQ(Form->FileIndex(), 0);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "100%");  // shown anew, so the zoom resets
}

TEST_F(Form1Test, TheLinkOpensTheProjectsHomePage) {
  TUrlRecorder Recorder;
  QDesktopServices::setUrlHandler("https", &Recorder, "handle");
  // The press goes to what lies under the pointer: the label's window.
  QWidget* Link = Form->Label1->Widget();
  QWidget* Under = Link->childAt(5, 5);
  QTest::mouseClick(Under ? Under : Link, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QDesktopServices::unsetUrlHandler("https");
  ASSERT_EQ(Recorder.Urls.size(), 1);
  EXPECT_TRUE(Recorder.Urls[0].path().endsWith("/default.htm"));
  EXPECT_EQ(Recorder.Urls[0].toString().toStdString(), HomePageUrl);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Form1Test, AnchorsKeepTheLayoutWhenTheWindowGrows) {
  Form->SetBounds(Form->Left(), Form->Top(), 697 + 100, 521 + 50);
  EXPECT_EQ(Form->KestImage1->Width(), 673 + 100);
  EXPECT_EQ(Form->KestImage1->Height(), 425 + 50);
  EXPECT_EQ(Form->Label1->Left() + Form->Label1->Width(), 679 + 100);
  EXPECT_EQ(Form->Label1->Top(), 478 + 50);
  EXPECT_EQ(Form->StatusBar->Left() + Form->StatusBar->Width() + 7, Form->Label1->Left());
  EXPECT_EQ(Form->StatusBar->Top(), 475 + 50);
}

}  // namespace

TEST_F(Form1Test, ADecodeShowsTheBusyCursorAndPercentWhileNextStepsOnAtOnce) {
  TJpegFileOptions Large{3000, 2000};
  Large.Progressive = true;
  Large.Noise = true;
  const std::vector<std::uint8_t> Bytes = MakeJpeg(Large);
  WriteBytes(Path("large.jpg"), QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<int>(Bytes.size())));
  WritePicture(Path("small.jpg"), 40, 30);
  TKestImage* V = Form->KestImage1;
  const TCursor Before = V->Cursor();
  Open({"large.jpg", "small.jpg"});
  // The window is back at once: the decode runs, the size is known, the zoom acts.
  ASSERT_TRUE(V->Decoding());
  EXPECT_EQ(Shown(), "3000x2000");
  EXPECT_EQ(V->Cursor(), crHourGlass);
  const double Fitted = V->Scale();
  Click(Form->ToolButton8);
  EXPECT_GT(V->Scale(), Fitted);
  while (Form->StatusBar->Panel(1).Text == "large.jpg" && V->Decoding()) QApplication::processEvents();
  if (V->Decoding()) {
    EXPECT_EQ(Form->StatusBar->Panel(1).Text.substr(0, 11), "large.jpg (");
  }
  // Next abandons the decode and shows the next file.
  Click(Form->ToolButton7);
  EXPECT_EQ(Shown(), "40x30");
  while (V->Decoding()) QApplication::processEvents();
  for (int I = 0; I < 10; ++I) QApplication::processEvents();
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "small.jpg");
  EXPECT_EQ(V->Cursor(), Before);
  EXPECT_TRUE(Messages.empty());
}

#include "Unit1_test.moc"

namespace {

TEST_F(Form1Test, SmoothShrinkingIsOnAndTheToolBarTogglesIt) {
  EXPECT_EQ(Form->KestImage1->Resampling(), rsSmooth);
  EXPECT_TRUE(Form->tbSmooth->Down());
  EXPECT_TRUE(Form->Smooth->Checked());
  Click(Form->tbSmooth);
  EXPECT_EQ(Form->KestImage1->Resampling(), rsNearest);
  EXPECT_FALSE(Form->tbSmooth->Down());
  EXPECT_FALSE(Form->Smooth->Checked());
  Form->Smooth->Execute();  // as a menu item bound to the action does
  EXPECT_EQ(Form->KestImage1->Resampling(), rsSmooth);
  EXPECT_TRUE(Form->tbSmooth->Down());
}

}  // namespace
