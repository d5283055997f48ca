// One start of the viewer, timed from outside: the units start, the main
// window is built from its stored layout and shown, and the program ends as
// soon as the window with its picture has been painted once.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "picture/jpeg/Jpeg.h"
#include "toolkit/QtApplication.h"
#include "viewer/Unit1.h"

int main(int argc, char** argv) {
  TQtApplication App(argc, argv);
  InitializeJpegSupport();
  InitializeViewerUnits();
  {
    TApplication Application(nullptr);
    Application.Initialize();
    Application.CreateForm(std::make_unique<TForm1>(&Application));
    QTimer::singleShot(0, qApp, [&Application] {
      Application.ProcessMessages();
      for (QWidget* W : QApplication::topLevelWidgets())
        if (W->isVisible()) W->grab();
      Application.Terminate();
    });
    Application.Run();
  }
  FinalizeViewerUnits();
  FinalizeJpegSupport();
  return 0;
}
