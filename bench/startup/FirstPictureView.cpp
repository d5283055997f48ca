// One start of a minimal program with the image view, timed from outside by
// bench/first_picture_ratio.sh: a 1600 x 1000 window whose view shows a JPEG
// file zoomed to fit, smoothly resampled; the program ends as soon as the
// window has been painted once, writing its peak memory (VmHWM, kB) to
// standard output.
//   first_picture_view FILE     the view
//   first_picture_view          an empty Qt program: the application object, one
//                               turn of its event loop, nothing shown
//   first_picture_view --make FILE [W H]   writes a photograph-like JPEG (once)
//   first_picture_view --make-large FILE W H   writes a gray baseline JPEG of
//                               large squares at low quality, made row by row
//                               (65500 x 65500 for the memory of the largest)
//   first_picture_view --make-large-colour FILE W H   the same in colour
//                               (three components, 4:2:0)
// With KEST_STAGES set, the times and peaks of the stages go to standard error.
#include <QApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "../tests/support/JpegFiles.h"
#include "KestImage/KestImage.h"
#include "picture/jpeg/Jpeg.h"
#include "picture/jpeg/JpegSplitDecode_p.h"
#include "toolkit/QtApplication.h"

namespace {

long PeakKb() {
  std::FILE* F = std::fopen("/proc/self/status", "r");
  if (!F) return -1;
  char Line[256];
  long Kb = -1;
  while (std::fgets(Line, sizeof Line, F))
    if (std::strncmp(Line, "VmHWM:", 6) == 0) Kb = std::strtol(Line + 6, nullptr, 10);
  std::fclose(F);
  return Kb;
}

// Ends at once: the time measured is the time to the painted window, not
// the tearing down of the program.
[[noreturn]] void Finish() {
  std::printf("%ld\n", PeakKb());
  std::fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--make") == 0) {
    TJpegFileOptions O{argc >= 5 ? std::atoi(argv[3]) : 6000, argc >= 5 ? std::atoi(argv[4]) : 4000};
    O.Noise = true;
    const auto Bytes = MakeJpeg(O);
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    return 0;
  }
  const auto T0 = std::chrono::steady_clock::now();
  const auto Stamp = [T0](const char* What) {
    if (std::getenv("KEST_STAGES"))
      std::fprintf(stderr, "%s %.1f ms peak %ld kB\n", What,
                   std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count(), PeakKb());
  };
  const bool Colour = argc >= 5 && std::strcmp(argv[1], "--make-large-colour") == 0;
  if (Colour || (argc >= 5 && std::strcmp(argv[1], "--make-large") == 0)) {
    TJpegEncoding E;
    E.Width = std::atoi(argv[3]);
    E.Height = std::atoi(argv[4]);
    E.Components = Colour ? 3 : 1;
    E.Quality = 20;
    // Squares of 1024 pixels, a whole number of blocks: almost every block is flat.
    static constexpr JSAMPLE Dark[3] = {40, 90, 180}, Light[3] = {200, 120, 60};
    const auto Bytes = CompressJpeg(E, [&](int Y, JSAMPLE* Row) {
      for (int X = 0; X < E.Width; ++X) {
        const bool Lit = (X / 1024 + Y / 1024) % 2 != 0;
        if (!Colour) Row[X] = Lit ? 200 : 60;
        else std::memcpy(Row + 3 * static_cast<std::size_t>(X), Lit ? Light : Dark, 3);
      }
    });
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    return 0;
  }
  TQtApplication App(argc, argv);
  Stamp("app");
  if (argc < 2) {
    QTimer::singleShot(0, qApp, [] { Finish(); });
    return App.exec();
  }
  InitializeJpegSupport();
  // A plain Qt window holding the view's widget.
  QWidget Window;
  auto* Layout = new QVBoxLayout(&Window);
  Layout->setContentsMargins(0, 0, 0, 0);
  auto* V = new TKestImage(nullptr);
  V->SetBorderStyle(bsNone);
  V->SetBounds(0, 0, 1600, 1000);
  Layout->addWidget(V->Widget());
  Window.resize(1600, 1000);
  V->SetResampling(rsSmooth);
  V->SetScaleMode(smScale);
  Stamp("form");
  V->Picture()->LoadFile(argv[1]);
  Stamp("load");
  V->Zoom(zkBestFit, -1, -1);
  Window.show();
  Stamp("show");
  QTimer::singleShot(0, qApp, [V, Stamp] {
    V->Update();
    Stamp("update");
    if (std::getenv("KEST_STAGES")) {
      auto* J = static_cast<TJPEGImage*>(V->Picture()->Graphic());
      std::fprintf(stderr, "draft %d decoded %d scale %g rect %d x %d, MCUs from the second thread %zu\n",
                   J->Draft() ? J->DraftShift() : -1, J->Decoded(), V->Scale(), V->GetImageRect().Width(),
                   V->GetImageRect().Height(), JpegSplitLastTakenFromSecond());
    }
    for (QWidget* W : QApplication::topLevelWidgets())
      if (W->isVisible()) W->repaint();
    Stamp("painted");
    Finish();
  });
  return App.exec();
}
