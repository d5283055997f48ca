// Shared parts of the fuzz targets: a Qt application on the offscreen platform
// (fonts, painters and windows need one), made once, and the tail every
// loader's target ends with: load, then draw what was loaded into a small bitmap.
#pragma once

#include <initializer_list>

#include <QApplication>

#include "picture/Bitmap.h"

inline void EnsureFuzzApplication() {
  static int Argc = 1;
  static char Name[] = "fuzz";
  static char* Argv[] = {Name, nullptr};
  static QApplication* App = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(Argc, Argv);
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
