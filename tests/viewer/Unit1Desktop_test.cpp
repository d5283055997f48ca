// The main window as a desktop viewer: files from the command line and from
// drops, the pictures of a folder, the window's keys, full screen, the
// context menu, the title and the busy decode.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QListView>
#include <QMimeData>
#include <QStandardPaths>

#include "support/MenuDriver.h"
#include "viewer/Form1Fixture.h"

namespace {

class Form1DesktopTest : public Form1Test {
 protected:
  // Writes pictures named Names (each a little wider than the one before).
  void WritePictures(const QStringList& Names) {
    int W = 10;
    for (const QString& N : Names) WritePicture(Folder.filePath(N), W++, 7);
  }
  std::vector<std::string> Paths(const QStringList& Names) const {
    std::vector<std::string> P;
    for (const QString& N : Names) P.push_back(Folder.filePath(N).toStdString());
    return P;
  }
  std::vector<std::string> ShownNames() const {
    std::vector<std::string> N;
    for (const std::string& F : Form->Files()) N.push_back(QFileInfo(QString::fromStdString(F)).fileName().toStdString());
    return N;
  }
  // Drops a mime payload on the window; returns whether the window accepted it.
  bool Drop(QMimeData& Data) {
    QWidget* W = Form->Widget();
    const QPoint P(100, 100);
    QDragEnterEvent Enter(P, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W, &Enter);
    if (!Enter.isAccepted()) return false;
    QDropEvent Dropped(P, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W, &Dropped);
    return Dropped.isAccepted();
  }
};

TEST_F(Form1DesktopTest, OneFileBringsItsFolderInNaturalOrderFromThatFile) {
  WritePictures({"b.jpg", "a10.jpg", "A2.JPG", "c1.jpg"});
  WriteBytes(Path("notes.txt"), "not a picture");
  ASSERT_TRUE(QDir(Folder.path()).mkdir("d.jpg"));  // a folder named like a picture
  Form->OpenFiles(Paths({"a10.jpg"}));
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"A2.JPG", "a10.jpg", "b.jpg", "c1.jpg"}));
  EXPECT_EQ(Form->FileIndex(), 1);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "a10.jpg");
  // The title and the status bar say where the file is and how large.
  EXPECT_EQ(Form->Caption(), "a10.jpg (2/4, 11 \u00D7 7) - TKestImage Demo");
  const qint64 Bytes = QFileInfo(Path("a10.jpg")).size();
  ASSERT_LT(Bytes, 1024);
  const std::vector<std::string> Facts = {Form->StatusBar->Panel(2).Text, Form->StatusBar->Panel(3).Text,
                                          Form->StatusBar->Panel(4).Text};
  EXPECT_EQ(Facts, (std::vector<std::string>{"11 \u00D7 7", std::to_string(Bytes) + " bytes", "2/4"}));
  EXPECT_EQ(Navigation(), "FPNL");
  // The ends: Home reaches the first, where Home and Prior no longer move.
  Key(Qt::Key_Home);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "A2.JPG");
  EXPECT_EQ(Navigation(), "--NL");
  Key(Qt::Key_End);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "c1.jpg");
  EXPECT_EQ(Navigation(), "FP--");
  Key(Qt::Key_Space);  // nothing after the last
  EXPECT_EQ(Form->FileIndex(), 3);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Form1DesktopTest, SeveralFilesAreSteppedThroughInTheirOwnOrder) {
  WritePictures({"x.jpg", "y.jpg", "z.jpg"});
  Form->OpenFiles(Paths({"z.jpg", "x.jpg"}));
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"z.jpg", "x.jpg"}));
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "z.jpg");
  EXPECT_EQ(Navigation(), "--NL");
}

TEST_F(Form1DesktopTest, AFileThatCannotBeShownIsReportedAndTheWindowStaysUsable) {
  // As the program's start opens the command line's files: a failure goes to the message box.
  RunGuarded([&] { Form->OpenFiles({Folder.filePath("missing.jpg").toStdString()}); });
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("missing.jpg"), std::string::npos) << Messages[0];
  EXPECT_THROW(Form->OpenFiles({"/nonexistent/a.bmp", "/nonexistent/b.bmp"}), Exception);
  EXPECT_EQ(Shown(), "1073x653");
  EXPECT_EQ(Form->Caption(), "a.bmp (1/2) - TKestImage Demo");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "a.bmp");
  WritePictures({"later.jpg"});
  Form->OpenFiles(Paths({"later.jpg"}));
  EXPECT_EQ(Form->Caption(), "later.jpg (1/1, 10 \u00D7 7) - TKestImage Demo");
}

TEST_F(Form1DesktopTest, DroppedFilesOpenAsASelectionAndOtherDropsAreRefused) {
  WritePictures({"p.jpg", "q.jpg", "r.jpg"});
  QMimeData Files;
  Files.setUrls({QUrl::fromLocalFile(Path("r.jpg")), QUrl::fromLocalFile(Path("p.jpg"))});
  EXPECT_TRUE(Drop(Files));
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"r.jpg", "p.jpg"}));
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "r.jpg");

  QMimeData Web;
  Web.setUrls({QUrl("https://example.org/a.jpg")});
  QMimeData Mixed;
  Mixed.setUrls({QUrl::fromLocalFile(Path("q.jpg")), QUrl("https://example.org/a.jpg")});
  QMimeData Text;
  Text.setText(Path("q.jpg"));
  for (QMimeData* D : {&Web, &Mixed, &Text}) EXPECT_FALSE(Drop(*D));
  EXPECT_EQ(ShownNames(), (std::vector<std::string>{"r.jpg", "p.jpg"}));
}

TEST_F(Form1DesktopTest, ZoomKeysGoThroughTheToolBarActions) {
  const struct {
    Qt::Key K;
    Qt::KeyboardModifiers M;
    const char* Zoom;
  } Steps[] = {
      {Qt::Key_Equal, Qt::ControlModifier, "150%"},
      {Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, "200%"},
      {Qt::Key_Plus, Qt::ControlModifier, "400%"},  // a keyboard with its own plus key
      {Qt::Key_Minus, Qt::ControlModifier, "200%"},
      {Qt::Key_0, Qt::ControlModifier, "100%"},
      {Qt::Key_Plus, Qt::NoModifier, "100%"},  // the main keyboard's plus alone stays ignored
  };
  for (const auto& S : Steps) {
    Key(S.K, S.M);
    EXPECT_EQ(Form->StatusBar->Panel(0).Text, S.Zoom) << S.Zoom;
    EXPECT_EQ(Combo()->currentText().toStdString(), S.Zoom) << S.Zoom;
  }
}

TEST_F(Form1DesktopTest, PageAndSpaceKeysStepFilesButEditTheZoomBox) {
  WritePictures({"1.jpg", "2.jpg", "3.jpg"});
  Form->OpenFiles(Paths({"1.jpg", "2.jpg", "3.jpg"}));
  const struct {
    Qt::Key K;
    int Index;
  } Steps[] = {{Qt::Key_Space, 1}, {Qt::Key_PageDown, 2}, {Qt::Key_Backspace, 1}, {Qt::Key_PageUp, 0}};
  for (const auto& S : Steps) {
    Key(S.K);
    EXPECT_EQ(Form->FileIndex(), S.Index) << S.K;
  }
  // In the zoom box the same keys edit its text.
  Form->ComboBox1->SetFocus();
  QLineEdit* Edit = Combo()->lineEdit();
  Edit->setFocus();
  Edit->setText("12");
  Edit->end(false);
  QTest::keyClick(Edit, Qt::Key_Backspace);
  QTest::keyClick(Edit, Qt::Key_Space);
  QTest::keyClick(Edit, Qt::Key_End);
  EXPECT_EQ(Edit->text().toStdString(), "1 ");
  EXPECT_EQ(Form->FileIndex(), 0);
  // Ctrl and function keys work there too, and Esc leaves the full screen F11 brought.
  QTest::keyClick(Edit, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "100%");
  QTest::keyClick(Edit, Qt::Key_F11);
  EXPECT_TRUE(Form->IsFullScreen());
  Key(Qt::Key_Escape);
  EXPECT_FALSE(Form->IsFullScreen());
}

TEST_F(Form1DesktopTest, CtrlWheelZoomsAboutThePointerAndThePlainWheelStillStepsFiles) {
  Click(Form->ToolButton8);  // 150 %: the picture scrolls both ways
  const QPoint At(100, 80);
  const TPoint Before = Form->KestImage1->Offset();
  // The picture pixel under the pointer, before and after.
  const double Px = (At.x() + Before.X) / 1.5, Py = (At.y() + Before.Y) / 1.5;
  QWheelEvent E(QPointF(At), ViewClient()->mapToGlobal(QPointF(At)), QPoint(), QPoint(0, 120), Qt::NoButton,
                Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(ViewClient(), &E);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "200%");
  const TPoint After = Form->KestImage1->Offset();
  EXPECT_NEAR((At.x() + After.X) / 2.0, Px, 1.0);
  EXPECT_NEAR((At.y() + After.Y) / 2.0, Py, 1.0);
  // Half notches add up.
  QWheelEvent Half(QPointF(At), ViewClient()->mapToGlobal(QPointF(At)), QPoint(), QPoint(0, -60), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(ViewClient(), &Half);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "200%");
  QApplication::sendEvent(ViewClient(), &Half);
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "150%");

  WritePictures({"w1.jpg", "w2.jpg"});
  Form->OpenFiles(Paths({"w1.jpg", "w2.jpg"}));
  Wheel(-120);
  EXPECT_EQ(Form->FileIndex(), 1);
}

TEST_F(Form1DesktopTest, F11ShowsThePictureAloneAndF11OrEscReturns) {
  const TRect Normal = Form->KestImage1->BoundsRect();
  for (Qt::Key Back : {Qt::Key_F11, Qt::Key_Escape}) {
    Key(Qt::Key_F11);
    ASSERT_TRUE(Form->IsFullScreen());
    EXPECT_EQ(Form->WindowState(), wsFullScreen);
    EXPECT_TRUE(Form->FullScreen->Checked());
    EXPECT_FALSE(Form->ToolBar1->Visible());
    EXPECT_FALSE(Form->StatusBar->Visible());
    EXPECT_EQ(Form->KestImage1->BoundsRect(), (TRect{0, 0, Form->ClientWidth(), Form->ClientHeight()}));
    Key(Back);
    EXPECT_FALSE(Form->IsFullScreen());
    EXPECT_EQ(Form->WindowState(), wsNormal);
    EXPECT_TRUE(Form->ToolBar1->Visible());
    EXPECT_TRUE(Form->StatusBar->Visible());
    QApplication::processEvents();
    // Back at the designed size the view is where the layout put it.
    Form->SetBounds(Form->Left(), Form->Top(), 697, 521);
    EXPECT_EQ(Form->KestImage1->BoundsRect(), Normal);
  }
  // Esc outside full screen is no window key.
  EXPECT_FALSE(Form->IsShortCut(VK_ESCAPE, TShiftState{}));
}

TEST_F(Form1DesktopTest, CtrlCCopiesThePictureAsShown) {
  WritePicture(Path("small.jpg"), 40, 30);
  Form->OpenFiles(Paths({"small.jpg"}));
  Click(Form->ToolButton8);  // 150 %: 60 x 45 on the screen
  Form->KestImage1->Repaint();
  QGuiApplication::clipboard()->clear();
  Key(Qt::Key_C, Qt::ControlModifier);
  const QImage Copied = QGuiApplication::clipboard()->image();
  EXPECT_EQ(Copied.size(), QSize(60, 45));
}

TEST_F(Form1DesktopTest, CtrlWAndCtrlQCloseTheWindow) {
  for (Qt::Key K : {Qt::Key_W, Qt::Key_Q}) {
    Form->Show();
    ASSERT_TRUE(Form->Widget()->isVisible());
    Key(K, Qt::ControlModifier);
    EXPECT_FALSE(Form->Widget()->isVisible()) << K;
  }
}

TEST_F(Form1DesktopTest, RightClickOnThePictureOffersTheWindowsCommands) {
  WritePictures({"m1.jpg", "m2.jpg"});
  Form->OpenFiles(Paths({"m1.jpg", "m2.jpg"}));
  auto Seen = WhenMenuOpens("Zoom &In");
  QContextMenuEvent E(QContextMenuEvent::Mouse, QPoint(50, 50), ViewClient()->mapToGlobal(QPoint(50, 50)));
  QApplication::sendEvent(ViewClient(), &E);
  ASSERT_TRUE(Seen->Opened);
  EXPECT_EQ(Seen->Entries,
            (QStringList{"&Open\tCtrl+O", "&Copy\tCtrl+C", "-", "Best Fit", "Zoom &In\tCtrl++", "Zoom &Out\tCtrl+-",
                         "&100 %\tCtrl+0", "-", "F&ull Screen\tF11", "[x] Smooth", "Lock Zoom", "Resize", "Stretch", "-",
                         "(off) Zoom on open:", "[x] Fit large pictures", "100 %", "Keep the zoom", "-",
                         "(off) &First\tHome", "(off) &Prior\tPgUp", "&Next\tPgDn", "&Last\tEnd", "-",
                         "&About\tF1", "&Close\tCtrl+W"}));
  EXPECT_EQ(Form->StatusBar->Panel(0).Text, "150%");
  // The menu key opens it too.
  Seen = WhenMenuOpens();
  QTest::keyClick(ViewClient(), Qt::Key_Menu);
  EXPECT_TRUE(Seen->Opened);
  // F1 shows the About box: version, formats, libraries.
  Key(Qt::Key_F1);
  ASSERT_EQ(Messages.size(), 1u);
  for (const char* Part : {"TKestImage Demo 0.", "JPEG Image File (jpeg, jpg, jpe, jfif)", "Bitmaps (bmp, dib)", "libjpeg "})
    EXPECT_NE(Messages[0].find(Part), std::string::npos) << Part << " in " << Messages[0];
  const struct {
    const char* Entry;
    std::function<bool()> Done;
  } Choices[] = {
      {"&Next", [&] { return Form->FileIndex() == 1; }},
      {"&First", [&] { return Form->FileIndex() == 0; }},
      {"&Last", [&] { return Form->FileIndex() == 1; }},
      {"&Prior", [&] { return Form->FileIndex() == 0; }},
      {"Zoom &In", [&] { return Form->StatusBar->Panel(0).Text == "150%"; }},
      {"Zoom &Out", [&] { return Form->StatusBar->Panel(0).Text == "100%"; }},
      {"Best Fit", [&] { return Form->StatusBar->Panel(0).Text != "100%"; }},
      {"&100 %", [&] { return Form->StatusBar->Panel(0).Text == "100%"; }},
      {"F&ull Screen", [&] { return Form->IsFullScreen(); }},
      {"Smooth", [&] { return Form->KestImage1->Resampling() == rsNearest; }},
      {"Lock Zoom", [&] { return Form->KestImage1->LockScale() && Form->tbLock->Down() && Form->LockZoom->Checked(); }},
      {"Resize", [&] { return Form->KestImage1->ScaleMode() == smResize && Form->Resize->Checked(); }},
      {"Stretch", [&] { return Form->tbStretch->Down() && !Form->tbResize->Down() && !Form->Resize->Checked(); }},
      {"&Copy", [&] { return !QGuiApplication::clipboard()->image().isNull(); }},
      {"&About", [&] { return Messages.size() == 2 && Messages[1] == Messages[0]; }},
      {"&Close", [&] { return !Form->Widget()->isVisible(); }},
  };
  for (const auto& C : Choices) {
    Seen = WhenMenuOpens(C.Entry);
    QApplication::sendEvent(ViewClient(), &E);
    EXPECT_TRUE(C.Done()) << C.Entry;
  }
}

TEST_F(Form1DesktopTest, TheMenuChoosesTheZoomOnOpenAndChecksIt) {
  const struct {
    const char* Entry;
    TOpenZoom Zoom;
  } Choices[] = {{"Keep the zoom", ozKeep}, {"100 %", ozActualSize}, {"Fit large pictures", ozFitLarge}};
  QContextMenuEvent E(QContextMenuEvent::Mouse, QPoint(50, 50), ViewClient()->mapToGlobal(QPoint(50, 50)));
  for (const auto& C : Choices) {
    auto Seen = WhenMenuOpens(C.Entry);
    QApplication::sendEvent(ViewClient(), &E);
    EXPECT_EQ(Form->ZoomOnOpen().OpenZoom(), C.Zoom) << C.Entry;
    Seen = WhenMenuOpens();
    QApplication::sendEvent(ViewClient(), &E);
    EXPECT_EQ(Seen->Entries.filter("[x] "), (QStringList{"[x] Smooth", QString("[x] ") + C.Entry}));
  }
}

TEST_F(Form1DesktopTest, TheListFollowsTheFolderKeepingTheFileShownEvenWhenRemoved) {
  // Lets the watcher report until the list holds the names Want (bounded).
  const auto ListBecomes = [this](const std::vector<std::string>& Want) {
    return QTest::qWaitFor([&] { return ShownNames() == Want; }, 10000);
  };
  ASSERT_TRUE(QDir(Folder.path()).mkdir("pics"));
  WritePictures({"pics/a.jpg", "pics/c.jpg", "pics/e.jpg"});
  Form->OpenFiles(Paths({"pics/c.jpg"}));
  WritePictures({"pics/b.jpg"});
  ASSERT_TRUE(ListBecomes({"a.jpg", "b.jpg", "c.jpg", "e.jpg"}));
  EXPECT_EQ(Form->Caption(), "c.jpg (3/4, 11 \u00D7 7) - TKestImage Demo");
  ASSERT_TRUE(QFile::rename(Path("pics/a.jpg"), Path("pics/f.jpg")));
  ASSERT_TRUE(ListBecomes({"b.jpg", "c.jpg", "e.jpg", "f.jpg"}));
  EXPECT_EQ(Form->Caption(), "c.jpg (2/4, 11 \u00D7 7) - TKestImage Demo");
  // The file shown stays until the user steps away from it.
  ASSERT_TRUE(QFile::remove(Path("pics/c.jpg")));
  ASSERT_TRUE(QFile::remove(Path("pics/b.jpg")));
  ASSERT_TRUE(ListBecomes({"c.jpg", "e.jpg", "f.jpg"}));
  EXPECT_EQ(Form->Caption(), "c.jpg (1/3, 11 \u00D7 7) - TKestImage Demo");
  EXPECT_EQ(Form->StatusBar->Panel(4).Text, "1/3");
  Form->FileNext->Execute();
  EXPECT_EQ(Form->Caption(), "e.jpg (2/3, 12 \u00D7 7) - TKestImage Demo");
  // A folder opened is watched as well; files opened one by one are not.
  Form->OpenFiles(Paths({"pics"}));
  WritePictures({"pics/d.jpg"});
  ASSERT_TRUE(ListBecomes({"d.jpg", "e.jpg", "f.jpg"}));
  EXPECT_EQ(Form->Caption(), "e.jpg (2/3, 12 \u00D7 7) - TKestImage Demo");
  Form->OpenFiles(Paths({"pics/d.jpg", "pics/f.jpg"}));
  EXPECT_EQ(Form->WatchedFolder(), "");
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Form1DesktopTest, TheDialogStartsInTheShownPicturesFolderAndACancelKeepsNavigation) {
  auto StartFolder = std::make_shared<QString>();
  auto CancelAndNote = [StartFolder] {
    QTimer::singleShot(0, [StartFolder] {
      auto* D = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!D) return;
      *StartFolder = D->directory().absolutePath();
      D->reject();
    });
  };
  CancelAndNote();
  Click(Form->ToolButton1);
  const QString Pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (QDir(Pictures).exists()) {
    EXPECT_EQ(*StartFolder, QDir(Pictures).absolutePath());
  }

  WritePictures({"n1.jpg", "n2.jpg"});
  Form->OpenFiles(Paths({"n1.jpg", "n2.jpg"}));
  CancelAndNote();
  Click(Form->ToolButton1);
  EXPECT_EQ(*StartFolder, QDir(Folder.path()).absolutePath());
  // The window keeps its list: the enabled buttons still work.
  EXPECT_EQ(Navigation(), "--NL");
  Click(Form->ToolButton7);
  EXPECT_EQ(Form->FileIndex(), 1);
}

TEST_F(Form1DesktopTest, TheWheelOverTheModalDialogNeverReachesTheWindow) {
  WritePictures({"s1.jpg", "s2.jpg"});
  Form->OpenFiles(Paths({"s1.jpg", "s2.jpg"}));
  WhenDialogOpens(Folder.path(), [](QFileDialog&, QListView& View) {
    for (QWidget* W : {static_cast<QWidget*>(View.viewport()), static_cast<QWidget*>(&View)}) {
      QWheelEvent E(QPointF(5, 5), W->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(W, &E);
    }
    return false;
  });
  Click(Form->ToolButton1);
  EXPECT_EQ(Form->FileIndex(), 0);
}

TEST_F(Form1DesktopTest, ALongDecodeShowsTheBusyCursorAndItsPercent) {
  WritePicture(Path("slow.jpg"), 64, 48);
  Form->OpenFiles(Paths({"slow.jpg"}));
  Form->SetBusyDelay(std::chrono::milliseconds(0));
  const TRect None{};
  Form->KestImage1Progress(nullptr, psStarting, 0, false, None, "");
  Form->KestImage1Progress(nullptr, psRunning, 40, false, None, "");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "slow.jpg (40%)");
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Form->KestImage1Progress(nullptr, psEnding, 100, false, None, "");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "slow.jpg");
  // A real decode ends the same way.
  Form->KestImage1->Repaint();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "slow.jpg");
}

TEST_F(Form1DesktopTest, AFileThatFailsOnlyWhenDecodedCountsAsShownAndIsReportedOnce) {
  // Loads, but a second start-of-image marker inside the pixel data stops the decode.
  std::vector<std::uint8_t> Bytes = MakeJpeg(TJpegFileOptions{});
  Bytes.insert(Bytes.end() - 200, {0xFF, 0xD8});
  WriteBytes(Path("cmyk.jpg"), QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())));
  WritePictures({"good.jpg"});
  Form->OpenFiles(Paths({"cmyk.jpg", "good.jpg"}));
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "cmyk.jpg");
  EXPECT_EQ(Navigation(), "--NL");
  // The decode runs on a worker: its failure arrives through the event loop.
  for (int I = 0; I < 500 && Messages.empty(); ++I) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("JPEG error #"), std::string::npos) << Messages[0];
  Wheel(-120);
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "good.jpg");
  EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(Form1DesktopTest, EveryZoomTextShowsWholeInTheBox) {
  QLineEdit* E = Combo()->lineEdit();
  for (double Scale : {0.001, 1.0, 25.0, 1000.0}) {
    Form->KestImage1->SetScale(Scale);
    ASSERT_EQ(E->text().toStdString(), Form->KestImage1->GetScaleText());
    EXPECT_LE(E->fontMetrics().horizontalAdvance(E->text()), E->contentsRect().width() - 4) << Scale;
  }
  // A text that fits gets the box's own font back.
  Form->KestImage1->SetScale(1.0);
  EXPECT_EQ(E->font().pixelSize(), Combo()->font().pixelSize());
}

TEST_F(Form1DesktopTest, TheWindowCannotShrinkPastItsToolBar) {
  Form->SetBounds(Form->Left(), Form->Top(), 100, 50);
  const TRect Last = Form->ToolButton12->BoundsRect();
  EXPECT_LE(Last.Right, Form->ToolBar1->ClientWidth());
  EXPECT_GE(Form->KestImage1->Height(), 100);
  EXPECT_EQ(Form->Widget()->minimumWidth(), Form->ClientWidth());
}

}  // namespace
