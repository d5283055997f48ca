// Loading a 6000 x 4000 RGB PNG file and drawing it for the first time, set
// beside plain decodes of the same bytes (already in memory) into a newly
// allocated buffer with libpng and with libspng, and beside Qt's and
// gdk-pixbuf's readers of the same file. All are timed in turn in the same
// run. Counters: "ratio" is our time / the faster plain decode (and
// "cpu_ratio" the same in processor time); "qt_ratio"
// and "pixbuf_ratio" are their time / ours (above 1: we are ahead).
// glib's headers first: they use a member name that Qt defines as a keyword.
#include "support/ReaderTimes.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <memory>

#include <spng.h>

#include "../tests/support/PngFiles.h"
#include "picture/png/Png.h"

namespace {

const std::vector<std::uint8_t>& BenchBytes() {
  static std::vector<std::uint8_t> Bytes;
  if (Bytes.empty()) {
    TPngFileOptions O;
    O.Width = 6000;
    O.Height = 4000;
    O.Sample = [](int X, int Y, int C) { return PngPhotoSample(6000, 4000, X, Y, C); };
    Bytes = MakePng(O);
  }
  return Bytes;
}

// libpng: RGB rows read one at a time into a new buffer.
std::unique_ptr<std::uint8_t[]> LibpngDecode(const std::vector<std::uint8_t>& Bytes) {
  struct TSource {
    const std::vector<std::uint8_t>* Bytes;
    std::size_t At;
  } Src{&Bytes, 0};
  png_structp P = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop I = png_create_info_struct(P);
  png_set_read_fn(P, &Src, [](png_structp Pp, png_bytep D, png_size_t N) {
    auto* S = static_cast<TSource*>(png_get_io_ptr(Pp));
    std::memcpy(D, S->Bytes->data() + S->At, N);
    S->At += N;
  });
  png_read_info(P, I);
  const png_uint_32 W = png_get_image_width(P, I), H = png_get_image_height(P, I);
  const std::size_t Stride = (W * 3 + 3) / 4 * 4;
  auto Out = std::make_unique_for_overwrite<std::uint8_t[]>(Stride * H);
  for (png_uint_32 Y = 0; Y < H; ++Y) png_read_row(P, Out.get() + Y * Stride, nullptr);
  png_read_end(P, nullptr);
  png_destroy_read_struct(&P, &I, nullptr);
  return Out;
}

// libspng: the whole picture as RGB into a new buffer.
std::unique_ptr<std::uint8_t[]> SpngDecode(const std::vector<std::uint8_t>& Bytes) {
  spng_ctx* C = spng_ctx_new(0);
  spng_set_png_buffer(C, Bytes.data(), Bytes.size());
  std::size_t Size = 0;
  spng_decoded_image_size(C, SPNG_FMT_RGB8, &Size);
  auto Out = std::make_unique_for_overwrite<std::uint8_t[]>(Size);
  spng_decode_image(C, Out.get(), Size, SPNG_FMT_RGB8, 0);
  spng_ctx_free(C);
  return Out;
}

double ProcessSeconds() {
  timespec T;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

std::unique_ptr<TPicture> LoadAndDraw(const std::string& Path, TBitmap& Target) {
  auto P = std::make_unique<TPicture>();
  P->LoadFile(Path);
  Target.Canvas().StretchDraw(Rect(0, 0, 1, 1), P->Graphic());
  return P;
}

void BM_PngLoadAndFirstDraw(benchmark::State& State) {
  InitializePngSupport();
  const std::vector<std::uint8_t>& Bytes = BenchBytes();
  const TBenchFile File(Bytes, "kest_png_bench.png");
  TBitmap Target(1, 1);
  {
    // Our pixels are libspng's, red and blue in the bitmap's order.
    const auto P = LoadAndDraw(File.Path(), Target);
    const TBitmap* B = static_cast<TPngImage*>(P->Graphic())->Bitmap();
    const auto Plain = SpngDecode(Bytes);
    for (int Y = 0; Y < 4000; Y += 999)
      for (int X = 0; X < 6000; X += 7)
        for (int K = 0; K < 3; ++K)
          if (B->ScanLine(Y)[3 * X + 2 - K] != Plain[(std::size_t(Y) * 6000 + X) * 3 + K]) {
            State.SkipWithError("pixels differ from the plain decode");
            return;
          }
  }
  double Ours = 0, Libpng = 0, Spng = 0, Qt = 0, Pixbuf = 0;
  double OursCpu = 0, LibpngCpu = 0, SpngCpu = 0;
  for (auto _ : State) {
    double C0 = ProcessSeconds();
    const double T = TimeOf([&] { benchmark::DoNotOptimize(LoadAndDraw(File.Path(), Target)); });
    OursCpu += ProcessSeconds() - C0;
    Ours += T;
    State.SetIterationTime(T);
    C0 = ProcessSeconds();
    Libpng += TimeOf([&] { benchmark::DoNotOptimize(LibpngDecode(Bytes)); });
    LibpngCpu += ProcessSeconds() - C0;
    C0 = ProcessSeconds();
    Spng += TimeOf([&] { benchmark::DoNotOptimize(SpngDecode(Bytes)); });
    SpngCpu += ProcessSeconds() - C0;
    Qt += TimeOf([&] { benchmark::DoNotOptimize(QtRead(File.Path())); });
    Pixbuf += TimeOf([&] { benchmark::DoNotOptimize(PixbufRead(File.Path())); });
  }
  const double N = static_cast<double>(State.iterations());
  State.counters["libpng_ms"] = Libpng * 1000 / N;
  State.counters["spng_ms"] = Spng * 1000 / N;
  State.counters["qt_ms"] = Qt * 1000 / N;
  State.counters["pixbuf_ms"] = Pixbuf * 1000 / N;
  State.counters["ratio"] = Ours / std::min(Libpng, Spng);
  // The same by the process's processor time (of all its threads), which
  // other work on a shared machine inflates less.
  State.counters["cpu_ratio"] = OursCpu / std::min(LibpngCpu, SpngCpu);
  State.counters["qt_ratio"] = Qt / Ours;
  State.counters["pixbuf_ratio"] = Pixbuf / Ours;
}

BENCHMARK(BM_PngLoadAndFirstDraw)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
