#include "picture/decoding/DecodedGraphic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "picture/gif/Gif.h"
#include "picture/png/Png.h"
#include "picture/tiff/Tiff.h"
#include "support/GifFiles.h"
#include "support/GraphicTests.h"
#include "support/PeakMemory.h"
#include "support/PhotoTiff.h"
#include "support/PngFiles.h"

namespace {

// Large enough that the pictures' memory (also a gray one's: 8192 x 4096) is
// mapped afresh and given back when freed, so that the process's peak shows it.
constexpr int W = 4096, H = 3072;

// The file cut after the first rows of its pixel data.
std::vector<std::uint8_t> PngCutShort(bool Interlaced) {
  TPngFileOptions O;
  O.Width = W;
  O.Height = H;
  O.Interlaced = Interlaced;
  O.Compression = 1;
  O.Sample = [](int, int, int) { return 0u; };
  std::vector<std::uint8_t> Bytes = MakePng(O);
  const auto Idat = std::search(Bytes.begin(), Bytes.end(), "IDAT", "IDAT" + 4);
  Bytes.erase(Idat + 4 + 256, Bytes.end());
  return Bytes;
}

// A one-row frame whose height, and the canvas's, is made H: the frame has
// its first row's data only.
std::vector<std::uint8_t> GifWithOneRow() {
  TGifFileSpec S;
  S.Width = W;
  S.Height = 1;
  S.Frames = {{0, 0, W, 1, 10, DISPOSAL_UNSPECIFIED, NO_TRANSPARENT_COLOR, false, true, [](int, int) { return 1; }}};
  std::vector<std::uint8_t> Bytes = MakeGif(S);
  const auto Desc = std::find(Bytes.begin() + 13 + 3 * 4, Bytes.end(), 0x2C);
  for (std::uint8_t* P : {&Bytes[8], &*Desc + 7}) P[0] = H & 0xFF, P[1] = H >> 8;
  return Bytes;
}

// Strips of 64 rows whose data is damaged from the second strip on.
std::vector<std::uint8_t> TiffDamagedAfterOneStrip(int Samples, std::uint32_t Width, std::uint32_t Height) {
  TTiffPage P;
  P.Width = Width;
  P.Height = Height;
  P.Samples = static_cast<std::uint16_t>(Samples);
  P.Photometric = Samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  P.Compression = COMPRESSION_ADOBE_DEFLATE;
  P.RowsPerStrip = 64;
  P.Sample = [](std::uint32_t, std::uint32_t, int) { return 0u; };
  std::vector<std::uint8_t> Bytes = MakeTiff(P);
  const std::uint32_t Ifd = Bytes[4] | Bytes[5] << 8 | Bytes[6] << 16 | static_cast<std::uint32_t>(Bytes[7]) << 24;
  std::fill(Bytes.begin() + 8 + (Ifd - 8) / (Height / 64), Bytes.begin() + Ifd, 0xFF);
  return Bytes;
}

// Loaded with someone to tell of the progress, and a clock that lets every
// notification through, as a view's decode of a large picture has.
template <class G>
std::unique_ptr<TDecodedGraphic> Load(const std::vector<std::uint8_t>& Bytes) {
  std::unique_ptr<TDecodedGraphic> P = LoadGraphic<G>(Bytes);
  P->SetTickSource([Clock = std::uint64_t{0}]() mutable { return Clock += 500; });
  P->OnProgress = [](TObject*, TProgressStage, std::uint8_t, bool, const TRect&, const std::string&) {};
  return P;
}

}  // namespace

// A file at the size limit whose data is cut or damaged at once takes no more
// than the bitmap it is shown as: its rows are not cleared or converted into a
// second bitmap, and a GIF frame without data takes no memory for its rows.
TEST(DecodedGraphic, FailingDecodeHoldsLittleMoreThanItsBitmap) {
  InitializePngSupport();
  InitializeGifSupport();
  InitializeTiffSupport();
  struct TCase {
    const char* Name;
    std::unique_ptr<TDecodedGraphic> Graphic;
    int Width;
  } Cases[] = {
      {"PNG", Load<TPngImage>(PngCutShort(false)), W},
      {"interlaced PNG", Load<TPngImage>(PngCutShort(true)), W},
      {"GIF", Load<TGifImage>(GifWithOneRow()), W},
      {"RGB TIFF", Load<TTIFFImage>(TiffDamagedAfterOneStrip(3, W, H)), W},
      {"gray TIFF", Load<TTIFFImage>(TiffDamagedAfterOneStrip(1, 2 * W, H + H / 3)), 2 * W},
  };
  for (TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPeakMemory Peak;
    ErrorOf([&] { C.Graphic->Bitmap(); });
    const TBitmap* B = C.Graphic->Bitmap();
    ASSERT_EQ(B->Width(), C.Width);
    EXPECT_LE(Peak.Growth(), B->Capacity() * 11 / 10) << "bitmap " << B->Capacity();
    C.Graphic.reset();
  }
}
