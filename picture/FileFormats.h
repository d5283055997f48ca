// The process-wide registry of picture file formats: which graphic class reads
// files of which extension or of which content, and the file-type filter built
// from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "picture/Graphic.h"

struct TFileFormat {
  std::string Extension;    // lower case, without the dot
  std::string Description;
  TGraphicClass GraphicClass = nullptr;
  int DescriptionResource = 0;  // 0 when the description is given as text
};

// Whether a file's first bytes (at most TFileFormatsList::SignatureBytes of
// them, fewer for a short file) are the start of a class's data.
using TSignatureTest = bool (*)(std::span<const std::uint8_t> Head);

class TFileFormatsList {
 public:
  // The registry, created on first use with its built-in entries: "wmf" and
  // "emf" (metafiles), "ico" (icons), "bmp" (bitmaps), in that order.
  static TFileFormatsList& Instance();

  // Appends an entry; the extension is lower-cased.
  void RegisterFormat(const std::string& Extension, const std::string& Description, TGraphicClass GraphicClass,
                      int DescriptionResource = 0);
  // Removes the entries of a class (the JPEG support does so at shutdown),
  // its signature too.
  void UnregisterClass(TGraphicClass GraphicClass);
  // Says how a class recognises its data; a later test for the class replaces
  // an earlier one.
  void RegisterSignature(TGraphicClass GraphicClass, TSignatureTest Test);

  // How many first bytes of a file the signature tests see.
  static constexpr std::size_t SignatureBytes = 256;
  // The class whose signature Head matches, or null. The newest registration
  // is asked first, so the built-in formats, whose signatures are weak (icons,
  // metafiles, bitmaps), are asked last.
  TGraphicClass FindBySignature(std::span<const std::uint8_t> Head) const;
  // The class that reads a file with this extension and these first bytes:
  // the class the extension names when it accepts the bytes or knows no
  // signature; otherwise the class whose signature they match; otherwise the
  // extension's class (its loading says what is wrong), or null.
  TGraphicClass FindByContent(const std::string& Extension, std::span<const std::uint8_t> Head) const;
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
  struct TSignature {
    TGraphicClass GraphicClass;
    TSignatureTest Test;
  };
  std::vector<TFileFormat> FEntries;
  std::vector<TSignature> FSignatures;
};

// The extension of a file name: the text after its last ".", unless a path
// separator ("\", ":" or "/") follows that dot; empty otherwise.
std::string FileNameExtension(const std::string& FileName);

// The class that reads the file, by its extension and its first bytes
// (TFileFormatsList::FindByContent); a file that cannot be read is judged by
// its extension alone.
TGraphicClass FindClassOfFile(const std::string& FileName);

// Whether Head holds Bytes at Offset.
bool HeadHas(std::span<const std::uint8_t> Head, std::size_t Offset, std::string_view Bytes);

// Whether Head starts with an ISO media "ftyp" box that names Brand as its
// major or one of its compatible brands (the containers of AVIF and HEIF).
bool HasIsoBrand(std::span<const std::uint8_t> Head, std::string_view Brand);
