#include "viewer/PictureFolder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "picture/FileFormats.h"

namespace {

// Compares two runs of digits by value: fewer significant digits is smaller.
int CompareNumbers(std::string_view A, std::string_view B) {
  auto Significant = [](std::string_view S) {
    const std::size_t First = S.find_first_not_of('0');
    return First == std::string_view::npos ? std::string_view() : S.substr(First);
  };
  const std::string_view X = Significant(A), Y = Significant(B);
  if (X.size() != Y.size()) return X.size() < Y.size() ? -1 : 1;
  return X.compare(Y) < 0 ? -1 : X.compare(Y) > 0 ? 1 : 0;
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

std::size_t DigitRun(std::string_view S, std::size_t From) {
  std::size_t E = From;
  while (E < S.size() && IsDigit(S[E])) ++E;
  return E;
}

}  // namespace

bool NaturalLess(std::string_view A, std::string_view B) {
  std::size_t I = 0, J = 0;
  while (I < A.size() && J < B.size()) {
    if (IsDigit(A[I]) && IsDigit(B[J])) {
      const std::size_t EI = DigitRun(A, I), EJ = DigitRun(B, J);
      if (const int C = CompareNumbers(A.substr(I, EI - I), B.substr(J, EJ - J)); C != 0) return C < 0;
      I = EI;
      J = EJ;
      continue;
    }
    const int X = std::tolower(static_cast<unsigned char>(A[I])), Y = std::tolower(static_cast<unsigned char>(B[J]));
    if (X != Y) return X < Y;
    ++I;
    ++J;
  }
  if ((I < A.size()) != (J < B.size())) return J < B.size();
  // Equal but for case or leading zeros: a fixed order all the same.
  return A < B;
}

namespace {

// The names of the pictures in Folder, except Skip, unsorted.
std::vector<std::string> PictureNames(const std::filesystem::path& Folder, const std::filesystem::path& Skip) {
  namespace fs = std::filesystem;
  const TFileFormatsList& Formats = TFileFormatsList::Instance();
  std::vector<std::string> Names;
  std::error_code Ec;
  for (fs::directory_iterator It(Folder, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const fs::path& P = It->path();
    if (P.filename() == Skip) continue;
    std::error_code FileEc;
    if (!It->is_regular_file(FileEc) || FileEc) continue;
    if (!Formats.FindByExtension(FileNameExtension(P.filename().string()))) continue;
    Names.push_back(P.filename().string());
  }
  return Names;
}

}  // namespace

TPictureSet PicturesBeside(const std::string& File) {
  namespace fs = std::filesystem;
  const fs::path Path = fs::absolute(fs::path(File)).lexically_normal();
  std::vector<std::string> Names = PictureNames(Path.parent_path(), Path.filename());
  // The file itself is there in any case.
  Names.push_back(Path.filename().string());
  std::sort(Names.begin(), Names.end(), NaturalLess);
  TPictureSet Set;
  for (const std::string& N : Names) {
    if (N == Path.filename().string()) Set.Start = static_cast<int>(Set.Files.size());
    Set.Files.push_back((Path.parent_path() / N).string());
  }
  return Set;
}

std::vector<std::string> PicturesIn(const std::string& Folder) {
  namespace fs = std::filesystem;
  const fs::path Path = fs::absolute(fs::path(Folder)).lexically_normal();
  std::vector<std::string> Names = PictureNames(Path, {});
  std::sort(Names.begin(), Names.end(), NaturalLess);
  std::vector<std::string> Files;
  for (const std::string& N : Names) Files.push_back((Path / N).string());
  return Files;
}
