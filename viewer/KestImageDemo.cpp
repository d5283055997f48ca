// The picture viewer program: the units start (the JPEG support, then the
// toolkit's classes and the view's cursors), the main window is built from its
// stored layout and the message loop runs until it closes. The program reads
// no arguments or settings and writes nothing.
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "picture/jpeg/Jpeg.h"
#include "picture/png/Png.h"
#include "picture/gif/Gif.h"
#include "picture/webp/Webp.h"
#include "toolkit/QtApplication.h"
#include "viewer/Unit1.h"

namespace kest_viewer_data {
extern const unsigned char KestImageDemo_png[];
extern const std::size_t KestImageDemo_png_size;
}  // namespace kest_viewer_data

int main(int argc, char** argv) {
  TQtApplication App(argc, argv);
  // The desktop entry's name, so the desktop pairs the window with its entry and icon.
  QGuiApplication::setDesktopFileName("KestImageDemo");
  QImage Icon;
  Icon.loadFromData(kest_viewer_data::KestImageDemo_png, static_cast<int>(kest_viewer_data::KestImageDemo_png_size));
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(Icon)));
  InitializeJpegSupport();
  InitializePngSupport();
  InitializeGifSupport();
  InitializeWebpSupport();
  InitializeViewerUnits();
  int Result = 0;
  {
    TApplication Application(nullptr);
    Application.Initialize();
    Application.CreateForm(std::make_unique<TForm1>(&Application));
    Result = Application.Run();
  }
  FinalizeViewerUnits();
  FinalizeWebpSupport();
  FinalizeGifSupport();
  FinalizePngSupport();
  FinalizeJpegSupport();
  return Result;
}
