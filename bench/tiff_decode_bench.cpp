// Loading a 6000 x 4000 LZW TIFF and drawing it for the first time, against a
// plain libtiff loop that reads its strips into a newly allocated buffer, and
// beside Qt's and gdk-pixbuf's readers of the same bytes. All sides are timed
// in turn in the same run; "ratio" is graphic time / plain time, "qt_ratio"
// and "pixbuf_ratio" the other readers' time / the graphic's.
//
// The drawing goes to a 1 x 1 bitmap, so the time is the decode's.
// gdk-pixbuf first: its glib headers use a word that Qt's headers define.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>

#include <QByteArray>
#include <QImage>

#include "../tests/support/JpegFiles.h"
#include "../tests/support/PhotoTiff.h"
#include "picture/tiff/Tiff.h"

namespace {

constexpr std::uint32_t Width = 6000, Height = 4000;

// A photograph-like picture (gradients, edges, fine noise), LZW, 16 rows per strip.
const std::vector<std::uint8_t>& BenchBytes() {
  static const std::vector<std::uint8_t> Bytes = [] {
    TJpegFileOptions Look{static_cast<int>(Width), static_cast<int>(Height)};
    Look.Noise = true;
    TTiffPage P;
    P.Width = Width;
    P.Height = Height;
    P.Compression = COMPRESSION_LZW;
    P.RowsPerStrip = 16;
    P.Sample = [Look](std::uint32_t X, std::uint32_t Y, int K) {
      return static_cast<std::uint32_t>(JpegTestSample(Look, static_cast<int>(X), static_cast<int>(Y), K));
    };
    return MakeTiff(P);
  }();
  return Bytes;
}

double Seconds(std::chrono::steady_clock::duration D) { return std::chrono::duration<double>(D).count(); }

// The plain loop: libtiff over the bytes in memory, every strip decoded into
// its place in a new buffer.
std::unique_ptr<std::uint8_t[]> PlainDecode(const std::vector<std::uint8_t>& Bytes) {
  struct TFile {
    const std::vector<std::uint8_t>* Bytes;
    std::uint64_t Pos;
  } F{&Bytes, 0};
  TIFF* T = TIFFClientOpen(
      "plain", "rm", &F,
      [](thandle_t H, tdata_t B, tsize_t N) -> tsize_t {
        auto& F = *static_cast<TFile*>(H);
        const auto Got = static_cast<tsize_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(N), F.Bytes->size() - F.Pos));
        std::memcpy(B, F.Bytes->data() + F.Pos, static_cast<std::size_t>(Got));
        F.Pos += static_cast<std::uint64_t>(Got);
        return Got;
      },
      [](thandle_t, tdata_t, tsize_t) -> tsize_t { return -1; },
      [](thandle_t H, toff_t O, int W) -> toff_t {
        auto& F = *static_cast<TFile*>(H);
        F.Pos = (W == SEEK_SET ? 0 : W == SEEK_CUR ? F.Pos : F.Bytes->size()) + O;
        return F.Pos;
      },
      [](thandle_t) { return 0; }, [](thandle_t H) -> toff_t { return static_cast<TFile*>(H)->Bytes->size(); },
      [](thandle_t, tdata_t*, toff_t*) { return 0; }, [](thandle_t, tdata_t, toff_t) {});
  const tmsize_t StripSize = TIFFStripSize(T);
  const std::size_t Total = std::size_t{Width} * Height * 3;
  auto Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(Total);
  const tstrip_t Strips = TIFFNumberOfStrips(T);
  for (tstrip_t S = 0; S < Strips; ++S) {
    const std::size_t At = static_cast<std::size_t>(S) * static_cast<std::size_t>(StripSize);
    TIFFReadEncodedStrip(T, S, Buffer.get() + At, static_cast<tmsize_t>(std::min<std::size_t>(StripSize, Total - At)));
  }
  TIFFClose(T);
  return Buffer;
}

std::unique_ptr<TTIFFImage> LoadAndDraw(const std::vector<std::uint8_t>& Bytes, TBitmap& Target) {
  auto G = std::make_unique<TTIFFImage>();
  G->LoadFromStream(*TMemoryStream::Over(Bytes));
  Target.Canvas().StretchDraw(Rect(0, 0, 1, 1), G.get());
  return G;
}

QImage QtDecode(const std::vector<std::uint8_t>& Bytes) {
  return QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(Bytes.data()),
                                                  static_cast<qsizetype>(Bytes.size())),
                          "TIFF");
}

GdkPixbuf* PixbufDecode(const std::vector<std::uint8_t>& Bytes) {
  GdkPixbufLoader* L = gdk_pixbuf_loader_new_with_type("tiff", nullptr);
  if (!L) return nullptr;
  gdk_pixbuf_loader_write(L, Bytes.data(), Bytes.size(), nullptr);
  gdk_pixbuf_loader_close(L, nullptr);
  GdkPixbuf* P = gdk_pixbuf_loader_get_pixbuf(L);
  if (P) g_object_ref(P);
  g_object_unref(L);
  return P;
}

void BM_TiffLoadAndFirstDraw(benchmark::State& State) {
  const std::vector<std::uint8_t>& Bytes = BenchBytes();
  TBitmap Target(1, 1);
  {
    // The same pixels as the plain loop, in the bitmap's order.
    const auto G = LoadAndDraw(Bytes, Target);
    const auto Plain = PlainDecode(Bytes);
    const TBitmap* B = G->Bitmap();
    const std::uint8_t* P = Plain.get() + (std::size_t{Height / 2} * Width + 1234) * 3;
    const std::uint8_t* Q = B->ScanLine(Height / 2) + 1234 * 3;
    if (B->Width() != static_cast<int>(Width) || P[0] != Q[2] || P[1] != Q[1] || P[2] != Q[0]) {
      State.SkipWithError("pixels differ from the plain loop");
      return;
    }
  }
  double Ours = 0, Plain = 0, Qt = 0, Pixbuf = 0;
  int Turn = 0;
  for (auto _ : State) {
    // Each side leads in turn, so that none always runs on a warmer cache.
    for (int K = 0; K < 4; ++K) {
      const int Side = (K + Turn) % 4;
      const auto T0 = std::chrono::steady_clock::now();
      switch (Side) {
        case 0: benchmark::DoNotOptimize(PlainDecode(Bytes)); break;
        case 1: benchmark::DoNotOptimize(LoadAndDraw(Bytes, Target)); break;
        case 2: benchmark::DoNotOptimize(QtDecode(Bytes).constBits()); break;
        default: {
          GdkPixbuf* P = PixbufDecode(Bytes);
          benchmark::DoNotOptimize(P);
          if (P) g_object_unref(P);
        }
      }
      const double T = Seconds(std::chrono::steady_clock::now() - T0);
      (Side == 0 ? Plain : Side == 1 ? Ours : Side == 2 ? Qt : Pixbuf) += T;
      if (Side == 1) State.SetIterationTime(T);
    }
    ++Turn;
  }
  const auto N = static_cast<double>(State.iterations());
  State.counters["plain_ms"] = benchmark::Counter(Plain * 1000 / N);
  State.counters["qt_ms"] = benchmark::Counter(Qt * 1000 / N);
  State.counters["pixbuf_ms"] = benchmark::Counter(Pixbuf * 1000 / N);
  State.counters["ratio"] = benchmark::Counter(Ours / Plain);
  State.counters["qt_ratio"] = benchmark::Counter(Qt / Ours);
  State.counters["pixbuf_ratio"] = benchmark::Counter(Pixbuf / Ours);
}

BENCHMARK(BM_TiffLoadAndFirstDraw)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(5);

}  // namespace
