#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "picture/Bitmap.h"
#include "picture/BmpBuilder.h"
#include "picture/icon/Icon.h"
#include "support/PixelMemoryFailure.h"
#include "toolkit/Exceptions.h"

using namespace bmptest;

namespace {

TBytes SmallBitmap() {
  TBmpFile F;
  F.Dib.Width = 2;
  F.Dib.Pixels = PackRow(24, {0x112233, 0x445566});
  return F.Bytes();
}

TBytes SmallIcon() { return IcoFile({{4, 4, 0, SolidIconDib(4, 4, 0x123456), {}, {}}}); }

const TBytes PngStart = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1};

// A picture that counts its change notifications.
struct TWatchedPicture {
  TPicture Picture;
  int Changes = 0;
  TWatchedPicture() {
    Picture.OnChange = [this](TObject* Sender) {
      EXPECT_EQ(Sender, &Picture);
      ++Changes;
    };
  }
};

class PictureIO : public testing::Test {
 protected:
  std::string Write(const std::string& Name, const TBytes& Bytes) {
    const std::string Path = FDir.filePath(QString::fromStdString(Name)).toStdString();
    std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char*>(Bytes.data()),
                                                static_cast<std::streamsize>(Bytes.size()));
    return Path;
  }

  QTemporaryDir FDir;
};

template <class E>
std::string MessageOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const E& X) {
    return X.Message();
  }
  return "(no error)";
}

TEST_F(PictureIO, LoadsByExtensionInAnyLetterCase) {
  TWatchedPicture W;
  W.Picture.LoadFile(Write("photo.BMP", SmallBitmap()));
  ASSERT_NE(W.Picture.Graphic(), nullptr);
  EXPECT_TRUE(W.Picture.Graphic()->Is<TBitmap>());
  EXPECT_EQ(W.Picture.Width(), 2);
  EXPECT_EQ(W.Changes, 1);
  W.Picture.LoadFile(Write("app.Ico", SmallIcon()));
  EXPECT_TRUE(W.Picture.Graphic()->Is<TIcon>());
  EXPECT_EQ(W.Changes, 2);
}

TEST_F(PictureIO, UnknownExtensionIsNamedAsWritten) {
  const std::pair<std::string, std::string> Cases[] = {
      {"picture.png", "Unknown picture file extension (.png)"},
      {"PICTURE.PNG", "Unknown picture file extension (.PNG)"},
      {"picture", "Unknown picture file extension (.)"},
      {"picture.", "Unknown picture file extension (.)"},
      {"my.pictures/picture", "Unknown picture file extension (.)"},
  };
  for (const auto& [Name, Message] : Cases) {
    TPicture P;
    EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { P.LoadFile(FDir.filePath(QString::fromStdString(Name)).toStdString()); }),
              Message);
  }
}

TEST_F(PictureIO, MissingFileNamesItsFullPath) {
  TPicture P;
  const std::string Absolute = FDir.filePath("missing.bmp").toStdString();
  EXPECT_EQ(MessageOf<EFOpenError>([&] { P.LoadFile(Absolute); }),
            "Cannot open file \"" + Absolute + "\". No such file or directory");
  const std::string Relative = "kest-missing-file.ico";
  EXPECT_EQ(MessageOf<EFOpenError>([&] { P.LoadFile(Relative); }),
            "Cannot open file \"" + QDir::current().filePath(QString::fromStdString(Relative)).toStdString() +
                "\". No such file or directory");
}

TEST_F(PictureIO, FolderIsAFileThatCannotBeRead) {
  TPicture P;
  ASSERT_TRUE(QDir(FDir.path()).mkdir("folder.bmp"));
  const std::string Path = FDir.filePath("folder.bmp").toStdString();
  EXPECT_EQ(MessageOf<EFOpenError>([&] { P.LoadFile(Path); }), "Cannot open file \"" + Path + "\". Is a directory");
}

TEST_F(PictureIO, ContentMustMatchTheExtension) {
  TPicture P;
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { P.LoadFile(Write("a.bmp", PngStart)); }), "Bitmap image is not valid");
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { P.LoadFile(Write("a.ico", PngStart)); }), "Icon image is not valid");
}

TEST_F(PictureIO, ZeroLengthFiles) {
  TWatchedPicture W;
  W.Picture.LoadFile(Write("empty.bmp", {}));
  ASSERT_NE(W.Picture.Graphic(), nullptr);
  EXPECT_TRUE(W.Picture.Graphic()->Empty());
  EXPECT_EQ(W.Picture.Width(), 0);
  EXPECT_EQ(W.Changes, 1);
  EXPECT_EQ(MessageOf<EReadError>([&] { W.Picture.LoadFile(Write("empty.ico", {})); }), "Stream read error");
}

TEST_F(PictureIO, FailingLoadKeepsThePictureWithoutNotice) {
  TWatchedPicture W;
  W.Picture.LoadFile(Write("good.bmp", SmallBitmap()));
  const TGraphic* Before = W.Picture.Graphic();
  W.Changes = 0;
  for (const char* Name : {"bad.bmp", "bad.ico", "bad.png"})
    EXPECT_THROW(W.Picture.LoadFile(Write(Name, {'B', 'M', 1})), Exception) << Name;
  EXPECT_THROW(W.Picture.LoadFile(FDir.filePath("absent.bmp").toStdString()), EFOpenError);
  EXPECT_EQ(W.Picture.Graphic(), Before);
  EXPECT_EQ(W.Changes, 0);
}

TEST_F(PictureIO, LoadWithoutMemoryIsTheSystemErrorAndKeepsThePicture) {
  TWatchedPicture W;
  W.Picture.LoadFile(Write("good.ico", SmallIcon()));
  const TGraphic* Before = W.Picture.Graphic();
  const std::string Path = Write("good.bmp", SmallBitmap());
  {
    TPixelMemoryFailure Fail;
    EXPECT_EQ(MessageOf<EOSError>([&] { W.Picture.LoadFile(Path); }), OutOfMemoryMessage);
  }
  EXPECT_EQ(W.Picture.Graphic(), Before);
  EXPECT_EQ(W.Changes, 1);
  W.Picture.LoadFile(Path);
  EXPECT_EQ(W.Picture.Width(), 2);
}

// Names of pictures that are no files to read: refused at once, never waited
// on (a FIFO without a writer) nor read without end (a device).
TEST_F(PictureIO, RefusesWhatIsNotARegularFile) {
  const std::string Fifo = FDir.filePath("pipe.bmp").toStdString();
  ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
  const std::string Zero = FDir.filePath("zero.ico").toStdString();
  ASSERT_EQ(symlink("/dev/zero", Zero.c_str()), 0);
  const std::string Random = FDir.filePath("random.bmp").toStdString();
  ASSERT_EQ(symlink("/dev/urandom", Random.c_str()), 0);
  const std::string Folder = FDir.filePath("folder.emf").toStdString();
  ASSERT_TRUE(QDir(FDir.path()).mkdir("folder.emf"));
  const std::pair<std::string, std::string> Cases[] = {
      {Fifo, "Not a regular file"},
      {Zero, "Not a regular file"},
      {Random, "Not a regular file"},
      {Folder, "Is a directory"},
  };
  TWatchedPicture W;
  W.Picture.LoadFile(Write("good.bmp", SmallBitmap()));
  const TGraphic* Before = W.Picture.Graphic();
  for (const auto& [Path, Reason] : Cases)
    EXPECT_EQ(MessageOf<EFOpenError>([&] { W.Picture.LoadFile(Path); }),
              "Cannot open file \"" + Path + "\". " + Reason);
  EXPECT_EQ(W.Picture.Graphic(), Before);
  EXPECT_EQ(W.Changes, 1);
}

// ---------------------------------------------------------------------------
// The stored picture form.

TBytes Stored(const TPicture& P) {
  TMemoryStream S;
  P.WriteStored(S);
  return S.TakeBytes();
}

void ReadStored(TPicture& P, const TBytes& Bytes) {
  TMemoryStream S(Bytes);
  P.ReadStored(S);
}

TBytes StoredForm(const std::string& Name, const TBytes& Data) {
  TBytes B;
  PutLE(B, Name.size(), 1);
  for (char C : Name) B.push_back(static_cast<std::uint8_t>(C));
  B.insert(B.end(), Data.begin(), Data.end());
  return B;
}

TBytes WithLength(const TBytes& Data) {
  TBytes B;
  PutLE(B, Data.size(), 4);
  B.insert(B.end(), Data.begin(), Data.end());
  return B;
}

TEST_F(PictureIO, StoredBitmapIsItsLengthAndFile) {
  TWatchedPicture W;
  ReadStored(W.Picture, StoredForm("TBitmap", WithLength(SmallBitmap())));
  ASSERT_NE(W.Picture.Graphic(), nullptr);
  EXPECT_EQ(ColorsOf(*static_cast<TBitmap*>(W.Picture.Graphic())), (TGrid{{0x112233, 0x445566}}));
  EXPECT_EQ(W.Changes, 1);
  // Written back and read again, the same bitmap.
  TPicture Copy;
  ReadStored(Copy, Stored(W.Picture));
  EXPECT_TRUE(Copy.Graphic()->Equals(W.Picture.Graphic()));
}

TEST_F(PictureIO, StoredIconIsTheFileToTheEnd) {
  const TBytes Form = StoredForm("TIcon", SmallIcon());
  TPicture P;
  ReadStored(P, Form);
  ASSERT_NE(P.Graphic(), nullptr);
  EXPECT_TRUE(P.Graphic()->Is<TIcon>());
  EXPECT_EQ(Stored(P), Form);
}

TEST_F(PictureIO, EmptyGraphicsSurviveTheStoredForm) {
  for (TGraphicClass C : {TBitmap::StaticClass(), TIcon::StaticClass()}) {
    TPicture P;
    std::unique_ptr<TObject> G = C->Create(nullptr);
    P.SetGraphic(std::unique_ptr<TGraphic>(static_cast<TGraphic*>(G.release())));
    TPicture Copy;
    ReadStored(Copy, Stored(P));
    ASSERT_NE(Copy.Graphic(), nullptr) << C->Name;
    EXPECT_EQ(Copy.Graphic()->ClassType(), C);
    EXPECT_TRUE(Copy.Graphic()->Empty());
  }
}

TEST_F(PictureIO, EmptyPictureIsASingleZeroByte) {
  TWatchedPicture W;
  EXPECT_EQ(Stored(W.Picture), TBytes{0});
  W.Picture.LoadFile(Write("a.bmp", SmallBitmap()));
  ReadStored(W.Picture, {0});
  EXPECT_EQ(W.Picture.Graphic(), nullptr);
  EXPECT_EQ(W.Changes, 2);
}

TEST_F(PictureIO, UnknownClassNameEmptiesThePicture) {
  for (const char* Name : {"TPortableNetworkGraphic", "tbitmap"}) {
    TWatchedPicture W;
    W.Picture.LoadFile(Write("a.bmp", SmallBitmap()));
    ReadStored(W.Picture, StoredForm(Name, WithLength(SmallBitmap())));
    EXPECT_EQ(W.Picture.Graphic(), nullptr) << Name;
    EXPECT_EQ(W.Changes, 2);
  }
}

TEST_F(PictureIO, FailingReadStoredKeepsThePictureWithoutNotice) {
  const TBytes Bad[] = {
      StoredForm("TBitmap", {0xFF, 0xFF, 0, 0, 'B', 'M'}),  // length past the end
      StoredForm("TBitmap", WithLength({'B', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
      StoredForm("TIcon", {0, 0, 2, 0, 1, 0}),
      {9, 'T', 'B', 'i'},  // name cut short
  };
  for (const TBytes& B : Bad) {
    TWatchedPicture W;
    W.Picture.LoadFile(Write("a.bmp", SmallBitmap()));
    const TGraphic* Before = W.Picture.Graphic();
    EXPECT_THROW(ReadStored(W.Picture, B), Exception);
    EXPECT_EQ(W.Picture.Graphic(), Before);
    EXPECT_EQ(W.Changes, 1);
  }
}

}  // namespace
