// Writes the desktop entry from its template, with the MimeType line made from
// the formats the viewer registers at start-up: every registered extension's
// media types. Fails when an extension has no entry in the media-type table,
// so that the entry cannot fall behind the registry.
//   make_desktop_entry TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <QGuiApplication>

#include "viewer/Formats.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TEMPLATE OUTPUT\n", argv[0]);
    return 2;
  }
  // The formats' start-up asks about the screen; no display is needed for that.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  InitializePictureFormats();
  std::vector<std::string> Missing;
  const std::vector<std::string> Types = RegisteredMimeTypes(Missing);
  FinalizePictureFormats();
  if (!Missing.empty()) {
    for (const std::string& E : Missing)
      std::fprintf(stderr, "make_desktop_entry: extension \"%s\" is registered but has no media type in "
                   "viewer/Formats.cpp\n", E.c_str());
    return 1;
  }
  std::ifstream In(argv[1]);
  std::stringstream Text;
  Text << In.rdbuf();
  if (!In) {
    std::fprintf(stderr, "make_desktop_entry: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string Line;
  for (const std::string& T : Types) Line += T + ";";
  std::string Out = Text.str();
  const std::string Mark = "@MimeTypes@";
  const std::size_t At = Out.find(Mark);
  if (At == std::string::npos) {
    std::fprintf(stderr, "make_desktop_entry: %s has no %s\n", argv[1], Mark.c_str());
    return 1;
  }
  Out.replace(At, Mark.size(), Line);
  std::ofstream(argv[2], std::ios::binary) << Out;
  return 0;
}
