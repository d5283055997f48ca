// One start of the viewer, timed from outside: the units start, the main
// window is built from its stored layout and shown, and the program ends as
// soon as the window with its picture has been painted once.
// With KEST_STAGES set, the time since the start of main at each stage goes
// to standard error.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "picture/jpeg/Jpeg.h"
#include "toolkit/QtApplication.h"
#include "viewer/Unit1.h"
#include "Stages.h"

int main(int argc, char** argv) {
  const TStages Stage;
  TQtApplication App(argc, argv);
  Stage("application");
  InitializeJpegSupport();
  InitializeViewerUnits();
  Stage("units");
  {
    TApplication Application(nullptr);
    Application.Initialize();
    Application.CreateForm(std::make_unique<TForm1>(&Application));
    Stage("window built");
    QTimer::singleShot(0, qApp, [&Application, &Stage] {
      Stage("shown");
      Application.ProcessMessages();
      Stage("events");
      for (QWidget* W : QApplication::topLevelWidgets())
        if (W->isVisible()) W->grab();
      Stage("painted");
      Application.Terminate();
    });
    Application.Run();
  }
  FinalizeViewerUnits();
  FinalizeJpegSupport();
  Stage("ended");
  return 0;
}
