// The pictures of a folder in the order a file manager lists them, for
// stepping through the folder of a file that was opened alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Natural, case-insensitive name order: runs of digits compare by their value
// ("img2" before "img10"), letters without regard to case; names that differ
// only in case or leading zeros keep a fixed order by their plain text.
bool NaturalLess(std::string_view A, std::string_view B);

struct TPictureSet {
  std::vector<std::string> Files;  // full paths
  int Start = 0;                   // the index of the file asked for
};

// The files in File's folder whose extension the format registry knows, in
// natural order, with File among them (also when its own extension is
// unknown, so that opening it reports why it cannot be shown). A folder that
// cannot be read gives File alone.
TPictureSet PicturesBeside(const std::string& File);
// The files in Folder whose extension the format registry knows, in natural
// order (full paths); none for a folder that cannot be read.
std::vector<std::string> PicturesIn(const std::string& Folder);
