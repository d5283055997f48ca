#include "picture/OpenPictureDialog.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QKeyEvent>
#include <QToolButton>
#include <QTreeView>

#include "support/DialogDriver.h"
#include "picture/FileFormats.h"
#include "picture/jpeg/Jpeg.h"
#include "toolkit/Forms.h"

namespace {

TEST(FitPictureRect, KeepsTheProportionsAndCentres) {
  const struct {
    int W, H, CW, CH;
    TRect Expected;
  } Cases[] = {
      {640, 480, 200, 200, {0, 25, 200, 175}},   // wide: full width, height 200 / 1.333 = 150
      {480, 640, 200, 200, {25, 0, 175, 200}},   // tall: full height
      {100, 10, 50, 100, {0, 47, 50, 52}},       // wide into a tall area: 50 / 10 = 5
      {10, 100, 100, 50, {47, 0, 52, 50}},       // tall into a wide area
      {300, 100, 100, 20, {20, 0, 80, 20}},      // wide but the height limits: 3 * 20 = 60
      {16, 16, 100, 60, {20, 0, 80, 60}},        // small square pictures are enlarged too
      {0, 50, 100, 60, {0, 0, 100, 60}},         // no width: the whole client
      {7, 3, 10, 10, {0, 3, 10, 7}},             // 10 / 2.333 = 4.28 truncates to 4; (10 - 4) / 2 = 3
  };
  for (const auto& C : Cases)
    EXPECT_EQ(FitPictureRect(C.W, C.H, C.CW, C.CH), C.Expected) << C.W << "x" << C.H << " in " << C.CW << "x" << C.CH;
}

class OpenPictureDialogTest : public ::testing::Test {
 protected:
  // The dialog takes its filter from the formats registered when it is made.
  OpenPictureDialogTest() {
    InitializeJpegSupport();
    Dialog = std::make_unique<TOpenPictureDialog>(nullptr);
  }
  ~OpenPictureDialogTest() override {
    Dialog.reset();
    FinalizeJpegSupport();
  }
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Dialog->SetOptions(TOpenOptions{ofHideReadOnly, ofAllowMultiSelect, ofFileMustExist, ofEnableSizing});
  }
  QString Path(const char* Name) const { return Folder.filePath(QString::fromLatin1(Name)); }
  std::string Native(const char* Name) const { return QDir::toNativeSeparators(Path(Name)).toStdString(); }

  QTemporaryDir Folder;
  std::unique_ptr<TOpenPictureDialog> Dialog;
};

TEST_F(OpenPictureDialogTest, OffersTheRegisteredFormatsWithAllFirst) {
  QStringList Offered, Selected;
  WhenDialogOpens(Folder.path(), [&](QFileDialog& D, QListView&) {
    Offered = D.nameFilters();
    Selected << D.selectedNameFilter();
    return false;
  });
  EXPECT_FALSE(Dialog->Execute());
  QStringList Expected;
  for (const auto& F : QtNameFilters(TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass())))
    Expected << QString::fromStdString(F);
  EXPECT_EQ(Offered, Expected);
  ASSERT_FALSE(Offered.isEmpty());
  EXPECT_TRUE(Offered[0].startsWith("All ("));
  EXPECT_EQ(Selected, QStringList{Offered[0]});
}

TEST_F(OpenPictureDialogTest, ReturnsFullPathsInTheDialogsOrderAndEmptiesOnCancel) {
  WritePicture(Path("b.jpg"), 4, 4);
  WritePicture(Path("a.jpg"), 4, 4);
  ChooseInNextDialog(Folder.path(), {"b.jpg", "a.jpg"});
  ASSERT_TRUE(Dialog->Execute());
  ASSERT_EQ(Dialog->SelectedFiles().Count(), 2);
  EXPECT_EQ(Dialog->SelectedFiles()[0], Native("b.jpg"));
  EXPECT_EQ(Dialog->SelectedFiles()[1], Native("a.jpg"));
  EXPECT_EQ(Dialog->FileName(), Native("b.jpg"));
  EXPECT_EQ(Dialog->FilterIndex(), 1);
  CancelNextDialog(Folder.path());
  EXPECT_FALSE(Dialog->Execute());
  EXPECT_EQ(Dialog->SelectedFiles().Count(), 0);
}

TEST_F(OpenPictureDialogTest, PatternsMatchWhateverTheLetterCase) {
  WritePicture(Path("UPPER.BMP"), 4, 4);
  WriteBytes(Path("notes.txt"), "text");
  bool Listed = true, TextListed = true;
  WhenDialogOpens(Folder.path(), [&](QFileDialog&, QListView& View) {
    Listed = RowOf(&View, "UPPER.BMP").isValid();
    TextListed = false;
    for (int R = 0; R < View.model()->rowCount(View.rootIndex()); ++R)
      if (View.model()->index(R, 0, View.rootIndex()).data().toString() == "notes.txt") TextListed = true;
    return false;
  });
  Dialog->Execute();
  EXPECT_TRUE(Listed);
  EXPECT_FALSE(TextListed);
}

TEST_F(OpenPictureDialogTest, PreviewShowsTheSizeOfAPictureAndNoneForOtherFiles) {
  WritePicture(Path("wide.jpg"), 64, 48);
  WriteBytes(Path("broken.bmp"), "BM but nothing else");
  struct TSeen {
    std::string Label, Paint;
    bool Button;
    bool BoxVisible;
  };
  std::vector<TSeen> Seen;
  auto Look = [&] {
    Seen.push_back({Dialog->PictureLabel()->Caption(), Dialog->PaintPanel()->Caption(),
                    Dialog->PreviewButton()->Enabled(), Dialog->PaintBox()->Visible()});
  };
  WhenDialogOpens(Folder.path(), [&](QFileDialog&, QListView& View) {
    Look();
    SelectRows(View, {"wide.jpg"});
    Look();
    SelectRows(View, {"broken.bmp"});
    Look();
    SelectRows(View, {"wide.jpg"});
    return false;
  });
  Dialog->Execute();
  ASSERT_EQ(Seen.size(), 3u);
  EXPECT_EQ(Seen[0].Paint, "(None)");
  EXPECT_FALSE(Seen[0].Button);
  EXPECT_EQ(Seen[1].Label, " (64x48)");
  EXPECT_EQ(Seen[1].Paint, "");
  EXPECT_TRUE(Seen[1].Button);
  EXPECT_TRUE(Seen[1].BoxVisible);
  EXPECT_EQ(Seen[2].Label, "Picture:");
  EXPECT_EQ(Seen[2].Paint, "(None)");
  EXPECT_FALSE(Seen[2].Button);
  EXPECT_FALSE(Seen[2].BoxVisible);
  // The next run starts without a preview but keeps the label's text.
  WhenDialogOpens(Folder.path(), [&](QFileDialog&, QListView&) {
    Look();
    return false;
  });
  Dialog->Execute();
  EXPECT_EQ(Seen.back().Label, " (64x48)");
  EXPECT_EQ(Seen.back().Paint, "(None)");
  EXPECT_FALSE(Seen.back().Button);  // nothing to show in a preview window
  EXPECT_EQ(Dialog->PreviewPicture().Graphic(), nullptr);
}

TEST_F(OpenPictureDialogTest, DesktopStyleGroupsTheFormatsFitsTheColumnsAndForgetsTheLastSize) {
  WritePicture(Path("a-picture-with-a-long-name.jpg"), 64, 48);
  Dialog->SetDesktopStyle(true);
  QStringList Offered;
  std::vector<std::pair<int, int>> Columns;  // width, width of the content
  std::vector<std::string> Labels;
  WhenDialogOpens(Folder.path(), [&](QFileDialog& D, QListView& View) {
    Offered = D.nameFilters();
    D.setViewMode(QFileDialog::Detail);
    SelectRows(View, {"a-picture-with-a-long-name.jpg"});
    auto* Tree = D.findChild<QTreeView*>("treeView");
    QApplication::processEvents();
    for (int C = 0; C < 3; ++C) Columns.emplace_back(Tree->header()->sectionSize(C), static_cast<QAbstractItemView*>(Tree)->sizeHintForColumn(C));
    return false;
  });
  Dialog->Execute();
  EXPECT_EQ(Offered, (QStringList{"All pictures (*.wmf *.emf *.ico *.bmp *.jpeg *.jpg)", "Metafiles (*.wmf *.emf)",
                                  "Icons (*.ico)", "Bitmaps (*.bmp)", "JPEG image (*.jpeg *.jpg)", "All files (*)"}));
  for (const auto& [Width, Content] : Columns) EXPECT_GE(Width, Content);
  WhenDialogOpens(Folder.path(), [&](QFileDialog&, QListView&) {
    Labels.push_back(Dialog->PictureLabel()->Caption());
    return false;
  });
  Dialog->Execute();
  EXPECT_EQ(Labels, std::vector<std::string>{""});
}

TEST_F(OpenPictureDialogTest, PreviewWindowFitsThePictureUpToThreeQuartersOfTheMonitor) {
  WritePicture(Path("small.jpg"), 120, 80);
  WritePicture(Path("huge.jpg"), 3000, 2400);
  std::vector<std::pair<int, int>> Sizes;
  Dialog->OnPreviewShow = [&](TObject* Sender) {
    auto* F = static_cast<TCustomForm*>(Sender);
    Sizes.emplace_back(F->ClientWidth(), F->ClientHeight());
    EXPECT_EQ(F->Caption(), "Preview");
    // Esc closes it.
    QKeyEvent Esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(F->Widget(), &Esc);
  };
  TRect Monitor;
  WhenDialogOpens(Folder.path(), [&](QFileDialog&, QListView& View) {
    Monitor = Dialog->MonitorBounds();
    for (const char* Name : {"small.jpg", "huge.jpg"}) {
      SelectRows(View, {Name});
      static_cast<QToolButton*>(Dialog->PreviewButton()->Hosted())->click();
    }
    return false;
  });
  Dialog->Execute();
  ASSERT_EQ(Sizes.size(), 2u);
  // The picture, a 5-pixel border on each side and the panel's 2-pixel edge.
  EXPECT_EQ(Sizes[0], std::make_pair(120 + 14, 80 + 14));
  EXPECT_EQ(Sizes[1], std::make_pair(Monitor.Width() * 3 / 4, Monitor.Height() * 3 / 4));
}

}  // namespace
