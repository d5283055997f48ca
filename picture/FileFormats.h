// The process-wide registry of picture file formats: which graphic class reads
// files of which extension, and the file-type filter built from it.
#pragma once

#include <string>
#include <vector>

#include "picture/Graphic.h"

struct TFileFormat {
  std::string Extension;    // lower case, without the dot
  std::string Description;
  TGraphicClass GraphicClass = nullptr;
  int DescriptionResource = 0;  // 0 when the description is given as text
};

class TFileFormatsList {
 public:
  // The registry, created on first use with its built-in entries: "wmf" and
  // "emf" (metafiles), "ico" (icons), "bmp" (bitmaps), in that order.
  static TFileFormatsList& Instance();

  // Appends an entry; the extension is lower-cased.
  void RegisterFormat(const std::string& Extension, const std::string& Description, TGraphicClass GraphicClass,
                      int DescriptionResource = 0);
  // Removes the entries of a class (the JPEG support does so at shutdown).
  void UnregisterClass(TGraphicClass GraphicClass);
  // The class of the newest entry whose extension equals Extension lower-cased, or null.
  TGraphicClass FindByExtension(const std::string& Extension) const;
  // The newest registered class whose name equals Name exactly, or null.
  TGraphicClass FindByClassName(const std::string& Name) const;
  // The filter text of a file dialog: "All (...)|patterns|" then one pair per
  // entry of the class or a descendant, newest first.
  std::string BuildPictureFilter(TGraphicClass BaseClass) const;

  const std::vector<TFileFormat>& Entries() const { return FEntries; }

 private:
  TFileFormatsList();
  std::vector<TFileFormat> FEntries;
};

// The extension of a file name: the text after its last ".", unless a path
// separator ("\", ":" or "/") follows that dot; empty otherwise.
std::string FileNameExtension(const std::string& FileName);
