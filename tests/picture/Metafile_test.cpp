// Loading of metafiles: telling the two kinds apart, the header rules and
// their errors, sizes with their rounding, the palette and the stored data.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "MetafileBuilder.h"
#include "MetafileRender.h"
#include "picture/FileFormats.h"
#include "picture/Graphic.h"
#include "picture/metafile/Metafile.h"
#include "toolkit/Exceptions.h"

namespace {

std::string LoadError(const std::vector<std::uint8_t>& Bytes) {
  TMetafile M;
  try {
    M.LoadFromBytes(Bytes);
  } catch (const EInvalidGraphic& E) {
    return "EInvalidGraphic: " + E.Message();
  } catch (const EReadError& E) {
    return "EReadError: " + E.Message();
  }
  return "";
}

// A minimal placeable metafile of the given box and units per inch.
std::vector<std::uint8_t> Placeable(std::int16_t L, std::int16_t T, std::int16_t R, std::int16_t B, std::uint16_t Inch) {
  return TWmfBuilder(L, T, R, B, Inch).Bytes();
}

}  // namespace

TEST(TMetafile, EnhancedSizeFollowsFrameAndReferenceDevice) {
  struct TCase {
    std::int32_t FrameL, FrameR, DevPx, DevMM, Expected;
  } Cases[] = {
      {0, 990, 1000, 100, 99},            // 10 pixels per mm
      {0, 50, 1, 1, 1},                   // 0.5 rounds away from zero
      {0, 149, 1, 1, 1},                  // 1.49
      {0, 150, 1, 1, 2},                  // 1.5
      {100, 50, 1, 1, 1},                 // a frame running right to left has its normalised size
      {0, 2000000, 3000, 1, 60000000},    // the product needs 64 bits
      {0, 2540, 1000, 0, 96},             // no millimetres: the screen's 96 per inch
  };
  for (const auto& C : Cases) {
    const auto Bytes = TEmfBuilder().Frame(C.FrameL, 0, C.FrameR, 990).Device(C.DevPx, 1000, C.DevMM, 100).Bytes();
    const auto M = LoadMetafile(Bytes);
    EXPECT_EQ(M->Width(), C.Expected) << C.FrameL << ".." << C.FrameR << " at " << C.DevPx << "/" << C.DevMM;
    EXPECT_EQ(M->MMWidth(), std::abs(C.FrameR - C.FrameL));
    EXPECT_EQ(M->Height(), 99);
    EXPECT_TRUE(M->Enhanced());
  }
}

TEST(TMetafile, PlaceableSizeFollowsBoxAndUnitsPerInch) {
  struct TCase {
    std::int16_t L, R;
    std::uint16_t Inch;
    int Ppi;
    std::int32_t MM, Px;
  } Cases[] = {
      {0, 1440, 1440, 96, 2540, 96},
      {0, 1440, 1440, 120, 2540, 120},  // the screen's pixels per inch count
      {0, 100, 0, 96, 2646, 100},       // 0 units per inch count as 96; size from the reference device
      {0, 1, 1440, 96, 2, 0},           // 1.76 -> 2, then 0.08 -> 0
      {-100, 100, 100, 96, 5080, 192},  // a box left of the origin
      {100, 0, 254, 96, 1000, 38},      // a reversed box has its normalised size: 37.8 rounds to 38
  };
  for (const auto& C : Cases) {
    DisplayInfo().PixelsPerInch = C.Ppi;
    const auto M = LoadMetafile(Placeable(C.L, 0, C.R, 10, C.Inch));
    EXPECT_EQ(M->MMWidth(), C.MM) << C.L << ".." << C.R << " at " << C.Inch;
    EXPECT_EQ(M->Width(), C.Px) << C.L << ".." << C.R << " at " << C.Inch << ", " << C.Ppi << " ppi";
    EXPECT_FALSE(M->Enhanced());
  }
  DisplayInfo().PixelsPerInch = 96;
}

TEST(TMetafile, DamagedHeadersAreRejected) {
  auto Emf = TEmfBuilder().Bytes();
  auto Longer = Emf;  // the total size claims more bytes than the file has
  Longer[48] = static_cast<std::uint8_t>(Longer.size() + 4);
  Longer[49] = static_cast<std::uint8_t>((Longer.size() + 4) >> 8);
  auto SmallHeader = Emf;  // a header record smaller than its fixed fields
  SmallHeader[4] = 40;
  auto BadKey = Placeable(0, 0, 100, 100, 96);
  BadKey[0] ^= 1;
  auto BadInner = Placeable(0, 0, 100, 100, 96);
  BadInner[22] = 3;  // Windows metafile type neither 1 nor 2
  const std::vector<std::uint8_t> Png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    const char* Error;
  } Cases[] = {
      {"empty", {}, "EInvalidGraphic: Metafile is not valid"},
      {"png", Png, "EInvalidGraphic: Metafile is not valid"},
      {"short enhanced", Longer, "EReadError: Stream read error"},
      {"small header", SmallHeader, "EInvalidGraphic: Metafile is not valid"},
      {"placeable key", BadKey, "EInvalidGraphic: Metafile is not valid"},
      {"placeable checksum", TWmfBuilder(0, 0, 100, 100, 96).BadChecksum().Bytes(), "EInvalidGraphic: Metafile is not valid"},
      {"inner header", BadInner, "EInvalidGraphic: Metafile is not valid"},
  };
  for (const auto& C : Cases) EXPECT_EQ(LoadError(C.Bytes), C.Error) << C.Name;
}

TEST(TMetafile, KindIsToldByContentNotByName) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  auto Write = [&](const char* Name, const std::vector<std::uint8_t>& Bytes) {
    const QString Path = Dir.filePath(QString::fromLatin1(Name));
    QFile F(Path);
    EXPECT_TRUE(F.open(QIODevice::WriteOnly));
    F.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<qint64>(Bytes.size()));
    return Path.toStdString();
  };
  TPicture P;
  P.LoadFile(Write("enhanced.wmf", TEmfBuilder().Bytes()));
  auto* M = dynamic_cast<TMetafile*>(P.Graphic());
  ASSERT_NE(M, nullptr);
  EXPECT_TRUE(M->Enhanced());
  EXPECT_EQ(P.Width(), 99);
  P.LoadFile(Write("placeable.emf", Placeable(0, 0, 1440, 720, 1440)));
  M = dynamic_cast<TMetafile*>(P.Graphic());
  ASSERT_NE(M, nullptr);
  EXPECT_FALSE(M->Enhanced());
  EXPECT_EQ(P.Width(), 96);
  EXPECT_EQ(P.Height(), 48);
}

TEST(TMetafile, FailedLoadKeepsThePreviousMetafile) {
  TMetafile M;
  M.LoadFromBytes(TEmfBuilder().Bytes());
  int Changes = 0;
  M.OnChange = [&](TObject*) { ++Changes; };
  EXPECT_THROW(M.LoadFromBytes(TWmfBuilder(0, 0, 10, 10, 96).BadChecksum().Bytes()), EInvalidGraphic);
  EXPECT_EQ(M.Width(), 99);
  EXPECT_TRUE(M.Enhanced());
  EXPECT_EQ(Changes, 0);
}

TEST(TMetafile, PaletteComesFromTheMetafileEntries) {
  const auto None = LoadMetafile(TEmfBuilder().Bytes());
  EXPECT_EQ(None->Palette(), nullptr);
  EXPECT_FALSE(None->PaletteModified());

  const auto Some = LoadMetafile(TEmfBuilder().EofPalette({0xFF0000, 0x00FF00, 0x0000FF}).Bytes());
  ASSERT_NE(Some->Palette(), nullptr);
  EXPECT_EQ(Some->Palette()->Entries(), (std::vector<std::uint32_t>{0xFF0000, 0x00FF00, 0x0000FF}));
  EXPECT_TRUE(Some->PaletteModified());

  std::vector<std::uint32_t> Many(300);
  for (std::size_t I = 0; I < Many.size(); ++I) Many[I] = static_cast<std::uint32_t>(I);
  const auto Capped = LoadMetafile(TEmfBuilder().EofPalette(Many).Bytes());
  ASSERT_NE(Capped->Palette(), nullptr);
  EXPECT_EQ(Capped->Palette()->Entries().size(), 256u);

  // A Windows metafile's palette record gives the palette of the converted one.
  TBytes Pal;
  Pal.U16(0x300).U16(2).U32(0x00332211).U32(0x00665544);
  const auto Wmf = LoadMetafile(TWmfBuilder(0, 0, 10, 10, 96).Raw(0x00F7, Pal.B).Bytes());
  ASSERT_NE(Wmf->Palette(), nullptr);
  EXPECT_EQ(Wmf->Palette()->Entries(), (std::vector<std::uint32_t>{0x112233, 0x445566}));
}

TEST(TMetafile, StoredDataCountsItsOwnLength) {
  for (const auto& Bytes : {TEmfBuilder().Bytes(), Placeable(0, 0, 1440, 1440, 1440)}) {
    const auto M = LoadMetafile(Bytes);
    TMemoryStream S;
    M->WriteData(S);
    const auto Out = S.Bytes();
    ASSERT_EQ(Out.size(), Bytes.size() + 4);
    EXPECT_EQ(Out[0] | Out[1] << 8 | Out[2] << 16 | Out[3] << 24, static_cast<int>(Bytes.size() + 4));
    S.SetPosition(0);
    TMetafile Back;
    Back.ReadData(S);
    EXPECT_TRUE(Back.Equals(M.get()));
    EXPECT_EQ(Back.Width(), M->Width());
    EXPECT_EQ(Back.Enhanced(), M->Enhanced());
  }
}

TEST(TMetafile, StoredLengthOfFourOrLessIsEmpty) {
  for (std::uint32_t L : {0u, 3u, 4u}) {
    TMemoryStream S;
    S.WriteUInt32LE(L);
    S.SetPosition(0);
    TMetafile M;
    M.LoadFromBytes(TEmfBuilder().Bytes());
    M.ReadData(S);
    EXPECT_EQ(M.Width(), 0) << L;
    EXPECT_FALSE(M.Empty());
    TBitmap B(10, 10);
    B.Canvas().StretchDraw(TRect{0, 0, 10, 10}, &M);  // draws nothing, without failing
  }
  TMemoryStream Short;
  Short.WriteUInt32LE(1000);
  Short.SetPosition(0);
  TMetafile M;
  EXPECT_THROW(M.ReadData(Short), EReadError);
}

TEST(TMetafile, SavesOnlyTheBytesTheHeaderCounts) {
  auto Bytes = TEmfBuilder().Bytes();
  const std::size_t Size = Bytes.size();
  Bytes.insert(Bytes.end(), {1, 2, 3, 4});
  const auto M = LoadMetafile(Bytes);
  TMemoryStream S;
  M->SaveToStream(S);
  EXPECT_EQ(S.Bytes().size(), Size);
}

TEST(TMetafile, IsAlwaysTransparent) {
  TMetafile M;
  M.SetTransparent(false);
  EXPECT_TRUE(M.Transparent());
}

TEST(TMetafile, MulDivRoundsHalvesAwayFromZero) {
  struct TCase {
    std::int64_t A, B, C;
    std::int32_t Expected;
  } Cases[] = {{5, 1, 10, 1}, {-5, 1, 10, -1}, {4, 1, 10, 0}, {5, -1, 10, -1}, {5, 1, -10, -1},
               {3, 1, 0, 0}, {INT32_MAX, 4, 1, INT32_MAX}, {INT32_MIN, 4, 1, INT32_MIN}};
  for (const auto& C : Cases) EXPECT_EQ(MulDivRound(C.A, C.B, C.C), C.Expected) << C.A << "*" << C.B << "/" << C.C;
}
