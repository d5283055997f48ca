// The settings kept between runs: what one window keeps the next one takes,
// damaged settings give the defaults without a word, and a kept place off the
// screen comes back onto it.
#include "viewer/ViewerSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>

#include "viewer/Form1Fixture.h"

namespace {

class ViewerSettingsTest : public Form1Test {
 protected:
  // Each test keeps its settings in its own folder (tests may run at once).
  void SetUp() override {
    FHome = qgetenv("HOME");
    qputenv("HOME", Folder.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    Form1Test::SetUp();
  }
  void TearDown() override {
    Form1Test::TearDown();
    QStandardPaths::setTestModeEnabled(false);
    qputenv("HOME", FHome);
  }
  QByteArray FHome;
  static void WriteSettings(const QByteArray& Bytes) {
    const QString File = QString::fromStdString(ViewerSettingsFile());
    QDir().mkpath(QFileInfo(File).absolutePath());
    WriteBytes(File, Bytes);
  }
  TForm1* NextRun() {
    TForm1* F = App->CreateForm(std::make_unique<TForm1>(App.get()));
    F->RestoreSettings();
    return F;
  }
};

TEST_F(ViewerSettingsTest, TheNextRunTakesWhatTheWindowKept) {
  Form->RestoreSettings();
  WritePicture(Path("a.jpg"), 30, 20);
  Form->OpenFiles({Path("a.jpg").toStdString()});
  Form->ZoomOnOpen().SetOpenZoom(ozKeep);
  Click(Form->tbLock);
  Click(Form->tbStretch);
  Click(Form->tbSmooth);
  Form->SetBounds(40, 30, 720, 540);
  const TViewerState Kept = Form->CurrentSettings();
  Form->Close();
  TForm1* Next = NextRun();
  EXPECT_EQ(Next->CurrentSettings(), Kept);
  EXPECT_EQ(Kept.OpenFolder, QDir(Folder.path()).absolutePath().toStdString());
  EXPECT_TRUE(Next->tbLock->Down());
  EXPECT_TRUE(Next->tbStretch->Down());
  EXPECT_FALSE(Next->tbSmooth->Down());
  EXPECT_EQ(Next->BoundsRect(), (TRect{40, 30, 760, 570}));
}

TEST_F(ViewerSettingsTest, DamagedSettingsGiveTheDefaultsSilently) {
  const QByteArray Files[] = {
      QByteArray("\x00\xff\x13[[[=\n\x01", 9),
      "[Window]\nWidth=-5\nHeight=abc\nMaximized=maybe\n[View]\nZoomOnOpen=7\nSmooth=2\nMode=sideways\n",
      "[View]\nZoomOnOpen=1e99\nLockZoom=\n",
  };
  for (const QByteArray& F : Files) {
    WriteSettings(F);
    EXPECT_EQ(ReadViewerState(), TViewerState{}) << F.toStdString();
    NextRun();
  }
  EXPECT_TRUE(Messages.empty());
}

TEST_F(ViewerSettingsTest, AKeptPlaceOffTheScreenComesBackOntoIt) {
  WriteSettings("[Window]\nLeft=5000\nTop=3000\nWidth=697\nHeight=521\n");
  TForm1* Next = NextRun();
  Next->Show();
  const QRect A = QGuiApplication::primaryScreen()->availableGeometry();
  const TRect B = Next->BoundsRect();
  EXPECT_GE(B.Left, A.left());
  EXPECT_GE(B.Top, A.top());
  EXPECT_LE(B.Right, A.left() + A.width());
  EXPECT_LE(B.Bottom, A.top() + A.height());
}

}  // namespace
