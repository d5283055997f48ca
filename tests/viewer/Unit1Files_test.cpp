// The main window with files as people have them: misnamed, without an
// extension, damaged, vanished, or a folder.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include "viewer/Form1Fixture.h"

namespace {

// A 9 x 5 picture in a format Qt writes ("JPG", "PNG", "WEBP", ...).
QByteArray Encoded(const char* QtFormat) {
  QImage I(9, 5, QImage::Format_RGB32);
  I.fill(Qt::darkCyan);
  QByteArray Bytes;
  QBuffer B(&Bytes);
  B.open(QIODevice::WriteOnly);
  EXPECT_TRUE(I.save(&B, QtFormat)) << QtFormat;
  return Bytes;
}

TEST_F(Form1Test, TheFilesContentDecidesWhenItsNameMisleads) {
  const struct {
    const char* Name;
    const char* QtFormat;
    const char* Class;
  } Cases[] = {
      {"png-named.jpg", "PNG", "TPngImage"},   {"webp-named.jpg", "WEBP", "TWebPImage"},
      {"png-named.gif", "PNG", "TPngImage"},   {"tiff-named.png", "TIFF", "TTIFFImage"},
      {"no-extension", "JPG", "TJPEGImage"},   {"unknown.xyz", "WEBP", "TWebPImage"},
      {"photo.jfif", "JPG", "TJPEGImage"},     {"photo.JPE", "JPG", "TJPEGImage"},
      {"bitmap.dib", "BMP", "TBitmap"},        {"bitmap-named.ico", "BMP", "TBitmap"},
      {"icon.ico", "ICO", "TIcon"},            {"icon-unnamed", "ICO", "TIcon"},
  };
  for (const auto& C : Cases) WriteBytes(Path(C.Name), Encoded(C.QtFormat));
  for (const auto& C : Cases) {
    Form->OpenFiles({Path(C.Name).toStdString()});
    const TGraphic* G = Form->KestImage1->Picture()->Graphic();
    ASSERT_NE(G, nullptr) << C.Name;
    EXPECT_EQ(G->ClassName(), C.Class) << C.Name;
    EXPECT_EQ(Shown(), "9x5") << C.Name;
  }
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

// The text of the last message box, without its caption.
std::string LastMessage(const std::vector<std::string>& Messages) {
  return Messages.empty() ? std::string() : Messages.back().substr(Messages.back().find(": ") + 2);
}

TEST_F(Form1Test, ErrorsNameTheFileThenSayWhatIsWrongThenTheFormatsOwnText) {
  const struct {
    const char* Name;
    QByteArray Bytes;
    std::string Text;
  } Cases[] = {
      {"broken.jpg", "no picture here", "\"broken.jpg\" is not a picture (JPEG error #53.)"},
      {"cut.ico", QByteArray("\0\0\1\0\1\0", 6), "\"cut.ico\" is damaged: the icon's data ends early (Stream read error.)"},
      {"notes.txt", "no picture here", "\"notes.txt\" is not a picture of a kind this program reads "
                                       "(Unknown picture file extension (.txt))"},
  };
  WriteBytes(Path("good.png"), Encoded("PNG"));
  for (const auto& C : Cases) {
    WriteBytes(Path(C.Name), C.Bytes);
    Form->OpenFiles({Path("good.png").toStdString()});
    Messages.clear();
    RunGuarded([&] { Form->OpenFiles({Path(C.Name).toStdString(), Path("good.png").toStdString()}); });
    EXPECT_EQ(LastMessage(Messages), C.Text);
    EXPECT_EQ(Form->Caption().rfind(std::string(C.Name) + " (1/2", 0), 0u) << Form->Caption();
    EXPECT_EQ(Form->StatusBar->Panel(1).Text, C.Name);
  }
  RunGuarded([&] { Form->OpenFiles({Path("gone.png").toStdString()}); });
  EXPECT_EQ(LastMessage(Messages).rfind("\"gone.png\" cannot be opened (Cannot open file \"", 0), 0u)
      << LastMessage(Messages);
}

TEST_F(Form1Test, AFileThatVanishedWhileBrowsingIsSkippedWithANote) {
  for (const char* N : {"a.png", "b.png", "c.png", "d.png"}) WriteBytes(Path(N), Encoded("PNG"));
  Form->OpenFiles({Path("b.png").toStdString()});
  ASSERT_TRUE(QFile::remove(Path("c.png")));
  ASSERT_TRUE(QFile::remove(Path("a.png")));
  Form->FileNext->Execute();
  EXPECT_EQ(Form->Caption(), "d.png (3/3, 9 \u00D7 5) - TKestImage Demo");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "\"c.png\" is gone: skipped");
  Form->FileFirst->Execute();
  EXPECT_EQ(Form->Caption(), "b.png (1/2, 9 \u00D7 5) - TKestImage Demo");
  EXPECT_EQ(Form->StatusBar->Panel(1).Text, "\"a.png\" is gone: skipped");
  EXPECT_EQ(Navigation(), "--NL");
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Form1Test, AFolderShowsItsFirstPictureInTheFolderOrder) {
  ASSERT_TRUE(QDir(Folder.path()).mkdir("pics"));
  for (const char* N : {"pics/img10.png", "pics/img9.png", "pics/notes.txt"}) WriteBytes(Path(N), Encoded("PNG"));
  Form->OpenFiles({Path("pics").toStdString()});
  EXPECT_EQ(Form->Caption(), "img9.png (1/2, 9 \u00D7 5) - TKestImage Demo");
  EXPECT_TRUE(Messages.empty()) << Messages.front();
}

TEST_F(Form1Test, TypedNamesThatAreNotPicturesAreReportedAndTheRestOpen) {
  WriteBytes(Path("a.png"), Encoded("PNG"));
  WriteBytes(Path("notes.txt"), "no picture here");
  WhenDialogOpens(Folder.path(), [](QFileDialog& D, QListView&) {
    D.findChild<QLineEdit*>("fileNameEdit")->setText("\"a.png\" \"notes.txt\"");
    return true;
  });
  Click(Form->ToolButton1);
  EXPECT_EQ(Form->Files(), std::vector<std::string>{Path("a.png").toStdString()});
  EXPECT_EQ(LastMessage(Messages), "\"notes.txt\" not shown: not a picture of a kind this program reads.");
}

}  // namespace
