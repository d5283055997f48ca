// Shared parts of the fuzz targets: the program's Qt application on the
// offscreen platform (fonts, painters and windowed controls need one), made
// once, and the tail every loader's target ends with: load, then draw what was
// loaded into a small bitmap.
#pragma once

#include <initializer_list>

#include <QStandardPaths>

#include "picture/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/QtApplication.h"

// The font configuration library keeps its caches until the process ends.
// (Defined here, not inline: each fuzz program includes this header from its
// one source file, and the leak checker looks the function up by name.)
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libdav1d.so\n"; }

inline void EnsureFuzzApplication() {
  static int Argc = 1;
  static char Name[] = "fuzz";
  static char* Argv[] = {Name, nullptr};
  static TQtApplication* App = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's settings are neither read nor written.
    QStandardPaths::setTestModeEnabled(true);
    return new TQtApplication(Argc, Argv);
  }();
  (void)App;
}

// The documented errors of a step: what it may raise without that being a finding.
template <class... E>
struct TErrors {};

// Runs Step: true when it completed, false when it raised one of the errors
// listed. Anything else escapes and ends the run as a finding.
template <class F>
bool Completes(TErrors<>, F&& Step) {
  Step();
  return true;
}
template <class E, class... Rest, class F>
bool Completes(TErrors<E, Rest...>, F&& Step) {
  try {
    return Completes(TErrors<Rest...>{}, Step);
  } catch (const E&) {
    return false;
  }
}

// Runs one step of a longer sequence: a documented error ends only that step.
template <class F>
void Step(F&& Action) {
  Completes(TErrors<Exception>{}, Action);
}

// Draws Graphic into a 64 x 48 bitmap at each of Targets (a target may be
// flipped or lie partly outside); an error that DrawErrors lists ends the
// drawing. True when it was drawn at every target.
template <class... D>
bool DrawAt(TErrors<D...> DrawErrors, TCanvasDrawable& Graphic, std::initializer_list<TRect> Targets) {
  TBitmap Surface(64, 48);
  for (const TRect& R : Targets)
    if (!Completes(DrawErrors, [&] { Surface.Canvas().StretchDraw(R, &Graphic); })) return false;
  return true;
}

// Loads with Load, then draws as DrawAt does; an error that LoadErrors lists
// ends the run. True when the graphic was loaded and drawn at every target.
template <class... L, class... D, class F>
bool LoadAndDraw(TErrors<L...> LoadErrors, TErrors<D...> DrawErrors, TCanvasDrawable& Graphic, F&& Load,
                 std::initializer_list<TRect> Targets) {
  return Completes(LoadErrors, Load) && DrawAt(DrawErrors, Graphic, Targets);
}
