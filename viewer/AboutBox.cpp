#include "viewer/AboutBox.h"

#include <algorithm>
#include <vector>

#include <QtGlobal>

#include "picture/FileFormats.h"
#include "toolkit/Forms.h"
#include "viewer/FileFacts.h"

// The build passes the program's version and the versions of the libraries
// it was built with.
#ifndef KEST_VERSION
#define KEST_VERSION "0"
#endif
#ifndef KEST_LIBRARIES
#define KEST_LIBRARIES ""
#endif

namespace {

// One line per format description with its extensions: "Bitmaps (bmp)".
std::string FormatLines() {
  std::vector<std::pair<std::string, std::string>> Lines;
  for (const TFileFormat& F : TFileFormatsList::Instance().Entries()) {
    auto It = std::find_if(Lines.begin(), Lines.end(), [&](const auto& L) { return L.first == F.Description; });
    if (It == Lines.end())
      Lines.emplace_back(F.Description, F.Extension);
    else
      It->second += ", " + F.Extension;
  }
  std::string Text;
  for (const auto& [Description, Extensions] : Lines) Text += "  " + Description + " (" + Extensions + ")\n";
  return Text;
}

}  // namespace

std::string AboutText() {
  return std::string(DisplayName) + " " + KEST_VERSION + "\n\nReads:\n" + FormatLines() + "\nBuilt with:\n  Qt " +
         qVersion() + "\n" + KEST_LIBRARIES;
}

void ShowAbout() {
  if (TApplication* A = Application()) A->ShowMessage(AboutText());
}
