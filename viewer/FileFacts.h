// What the window tells about the file shown: the title with the name, the
// position in the selection and the picture's size, and the status bar's
// panels for the picture's size, the file's size and the position.
#pragma once

#include <cstdint>
#include <string>

class Exception;
class TStatusBar;

// The program's name wherever it shows: title, message boxes, desktop entry.
extern const char* const DisplayName;

struct TFileFacts {
  std::string Name;          // without its folder
  std::int32_t Index = 0;    // in the selection, from 0
  std::int32_t Count = 0;    // files in the selection
  std::int32_t Width = 0;    // of the picture; negative when it was not read
  std::int32_t Height = 0;
  std::int64_t Bytes = -1;   // of the file; negative when unknown
};

// "photo.jpg (2/40, 6000 × 4000) - <display name>"; without the size when
// the picture was not read.
std::string WindowTitle(const TFileFacts& F);
// "512 bytes", "830 KB", "5.6 MB", "1.2 GB" (units of 1024).
std::string FileSizeText(std::int64_t Bytes);
// Gives the status bar its panels after the zoom and the name: the picture's
// size, the file's size and the position (the last reaches the right end).
void AddFactPanels(TStatusBar& Bar);
// Fills those panels; the name panel is the caller's.
void ShowFacts(TStatusBar& Bar, const TFileFacts& F);

// What the window says when File cannot be shown: the file's name first, then
// what is wrong in plain words, then the message of the part that failed:
// "\"broken.jpg\" is not a picture (JPEG error #53.)",
// "\"cut.ico\" is damaged: the icon's data ends early (Stream read error.)".
std::string FileErrorText(const std::string& File, const Exception& E);
