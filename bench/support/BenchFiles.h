// Files for the benchmarks: a file in the temporary folder for as long as a
// benchmark runs, the plain whole-file read that loads are set beside, and
// the headers of bitmap files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TBenchFile {
 public:
  TBenchFile(const std::vector<std::uint8_t>& Bytes, const std::string& Name)
      : FPath((std::filesystem::temp_directory_path() / Name).string()) {
    std::ofstream(FPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }
  ~TBenchFile() { std::filesystem::remove(FPath); }
  TBenchFile(const TBenchFile&) = delete;
  TBenchFile& operator=(const TBenchFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// The whole file read into a newly allocated buffer that is not cleared
// first, as the least any load has to do; with its size.
inline std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t> ReadPlain(const std::string& Path) {
  std::FILE* F = std::fopen(Path.c_str(), "rb");
  std::fseek(F, 0, SEEK_END);
  const auto Size = static_cast<std::size_t>(std::ftell(F));
  std::fseek(F, 0, SEEK_SET);
  auto File = std::make_unique_for_overwrite<std::uint8_t[]>(Size);
  const std::size_t N = std::fread(File.get(), 1, Size, F);
  std::fclose(F);
  return {std::move(File), N};
}

inline void PutLE(std::vector<std::uint8_t>& B, std::uint32_t V, int Bytes) {
  for (int I = 0; I < Bytes; ++I) B.push_back(static_cast<std::uint8_t>(V >> (8 * I)));
}

// The file header, 40-byte info header and colour table of a bottom-up
// Width x Height bitmap file of Bits per pixel whose DataSize bytes of pixel
// data (compressed as Compression says) follow at once. Entry(I) is colour I
// of the table's Colors entries.
template <class F>
std::vector<std::uint8_t> BmpHeaders(std::uint32_t Width, std::uint32_t Height, std::uint32_t Bits,
                                     std::uint32_t Compression, std::uint32_t DataSize, std::uint32_t Colors,
                                     F&& Entry) {
  const std::uint32_t Offset = 14 + 40 + 4 * Colors;
  std::vector<std::uint8_t> B;
  PutLE(B, 0x4D42, 2);
  PutLE(B, Offset + DataSize, 4);
  PutLE(B, 0, 4);
  PutLE(B, Offset, 4);
  for (std::uint32_t V : {40u, Width, Height}) PutLE(B, V, 4);
  PutLE(B, 1, 2);
  PutLE(B, Bits, 2);
  for (std::uint32_t V : {Compression, DataSize, 2835u, 2835u, Colors, 0u}) PutLE(B, V, 4);
  for (std::uint32_t I = 0; I < Colors; ++I) PutLE(B, Entry(I), 4);
  return B;
}
