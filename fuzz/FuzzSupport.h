// Shared set-up of the fuzz targets: a Qt GUI application on the offscreen
// platform (fonts and painters need one), made once.
#pragma once

#include <QGuiApplication>

inline void EnsureFuzzApplication() {
  static int Argc = 1;
  static char Name[] = "fuzz";
  static char* Argv[] = {Name, nullptr};
  static QGuiApplication* App = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(Argc, Argv);
  }();
  (void)App;
}
