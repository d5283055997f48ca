// Loading an icon file with one 256 x 256 PNG entry through TPicture::LoadFile
// and its first drawing (the decode), against Qt's own reading of the same
// file into a QImage, in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include "picture/Bitmap.h"
#include "picture/Graphic.h"
#include "support/BenchFiles.h"

namespace {

constexpr int Side = 256;

// A PNG of a 256 x 256 picture with gradients, soft alpha and some detail, so
// that it compresses like a drawn application icon.
QByteArray IconPng() {
  QImage I(Side, Side, QImage::Format_ARGB32);
  for (int Y = 0; Y < Side; ++Y) {
    auto* Row = reinterpret_cast<std::uint32_t*>(I.scanLine(Y));
    for (int X = 0; X < Side; ++X) {
      const int Dx = X - Side / 2, Dy = Y - Side / 2;
      const int D2 = Dx * Dx + Dy * Dy;
      const std::uint32_t A = D2 < 110 * 110 ? 255u : D2 < 126 * 126 ? static_cast<std::uint32_t>(255 - (D2 - 12100) / 15) : 0u;
      const std::uint32_t R = static_cast<std::uint32_t>(X), G = static_cast<std::uint32_t>(Y);
      const std::uint32_t B = static_cast<std::uint32_t>((X * Y) >> 8) ^ static_cast<std::uint32_t>((X ^ Y) & 7);
      Row[X] = (A << 24) | (R << 16) | (G << 8) | (B & 0xFF);
    }
  }
  QByteArray Data;
  QBuffer Buffer(&Data);
  Buffer.open(QIODevice::WriteOnly);
  I.save(&Buffer, "PNG");
  return Data;
}

// An icon file of one 256 x 256 PNG entry.
QByteArray IconFile() {
  const QByteArray Png = IconPng();
  std::vector<std::uint8_t> B;
  for (const std::uint32_t V : {0u, 1u, 1u}) PutLE(B, V, 2);  // reserved, type, count
  PutLE(B, 0, 4);                                               // 256 x 256, colours, reserved
  PutLE(B, 1, 2);                                               // planes
  PutLE(B, 32, 2);                                              // bits per pixel
  PutLE(B, static_cast<std::uint32_t>(Png.size()), 4);
  PutLE(B, 6 + 16, 4);
  QByteArray File(reinterpret_cast<const char*>(B.data()), static_cast<qsizetype>(B.size()));
  return File + Png;
}

// The file, written once per run into a temporary folder that goes at exit.
const std::string& BenchPath() {
  static const QTemporaryDir Dir;
  static const std::string Path = [] {
    const QString P = Dir.filePath("icon.ico");
    QFile F(P);
    if (!F.open(QIODevice::WriteOnly) || F.write(IconFile()) < 0) throw std::runtime_error("cannot write the icon");
    return P.toStdString();
  }();
  return Path;
}

// Loads the file and draws it once, which decodes the chosen image; the
// 1 x 1 target keeps the drawing itself out of the measurement.
void LoadAndDecode(const std::string& Path, TBitmap& Target) {
  TPicture P;
  P.LoadFile(Path);
  Target.Canvas().Draw(0, 0, P.Graphic());
  if (P.Width() != Side) throw std::runtime_error("the icon was not decoded");
}

void QtLoad(const QString& Path) {
  QImageReader R(Path, "ICO");
  const QImage I = R.read();
  if (I.width() != Side) throw std::runtime_error("Qt did not read the icon");
  benchmark::DoNotOptimize(I.constBits());
}

void BM_IconLoadFile(benchmark::State& State) {
  const std::string& Path = BenchPath();
  TBitmap Target(1, 1);
  for (auto _ : State) LoadAndDecode(Path, Target);
}
BENCHMARK(BM_IconLoadFile)->Unit(benchmark::kMicrosecond);

void BM_QtIcoLoad(benchmark::State& State) {
  const QString Path = QString::fromStdString(BenchPath());
  for (auto _ : State) QtLoad(Path);
}
BENCHMARK(BM_QtIcoLoad)->Unit(benchmark::kMicrosecond);

// The processor time of this process (all its threads: Qt converts large
// images on a thread pool), which other work on a shared machine does not inflate.
std::chrono::nanoseconds ProcessTime() {
  timespec T{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return std::chrono::seconds(T.tv_sec) + std::chrono::nanoseconds(T.tv_nsec);
}

// Both in turn, so that the other work on the machine weighs on each alike;
// the counter "ratio" is the icon load's time over Qt's, "cpu_ratio" the same
// in processor time.
void BM_IconLoadOverQt(benchmark::State& State) {
  using Clock = std::chrono::steady_clock;
  const std::string& Path = BenchPath();
  const QString QPath = QString::fromStdString(Path);
  TBitmap Target(1, 1);
  Clock::duration Ours{}, Qt{};
  std::chrono::nanoseconds OursCpu{}, QtCpu{};
  for (auto _ : State) {
    const auto T0 = Clock::now();
    const auto C0 = ProcessTime();
    QtLoad(QPath);
    const auto T1 = Clock::now();
    const auto C1 = ProcessTime();
    LoadAndDecode(Path, Target);
    Ours += Clock::now() - T1;
    OursCpu += ProcessTime() - C1;
    Qt += T1 - T0;
    QtCpu += C1 - C0;
  }
  State.counters["ratio"] = static_cast<double>(Ours.count()) / static_cast<double>(Qt.count());
  State.counters["cpu_ratio"] = static_cast<double>(OursCpu.count()) / static_cast<double>(QtCpu.count());
}
BENCHMARK(BM_IconLoadOverQt)->Unit(benchmark::kMicrosecond);

}  // namespace
