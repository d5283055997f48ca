// Shared pieces of the format benchmarks: a file for as long as a benchmark
// runs, a stopwatch, and the other readers that our graphics are set beside
// (Qt's QImage and gdk-pixbuf), timed on the same file. Include it before
// any Qt header: glib's headers use a name that Qt defines as a keyword.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "support/BenchFiles.h"

#include <QImage>

template <class F>
double TimeOf(F&& Fn) {
  const auto T0 = std::chrono::steady_clock::now();
  Fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
}

// Qt's reader: the file into a QImage. False when it cannot read it.
inline bool QtRead(const std::string& Path) {
  QImage I(QString::fromStdString(Path));
  return !I.isNull();
}

// gdk-pixbuf's reader: the file into a pixbuf.
inline bool PixbufRead(const std::string& Path) {
  GError* E = nullptr;
  GdkPixbuf* P = gdk_pixbuf_new_from_file(Path.c_str(), &E);
  if (E) g_error_free(E);
  if (!P) return false;
  g_object_unref(P);
  return true;
}
