// The most memory the process held at once since a point: the kernel's peak
// of resident memory is set back to what is resident now, and read later.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

class TPeakMemory {
 public:
  TPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
    FStart = Read("VmRSS:");
  }
  // Bytes held at the peak beyond those held at the start; 0 where the
  // system keeps no peak.
  std::uint64_t Growth() const {
    const std::uint64_t Peak = Read("VmHWM:");
    return Peak > FStart ? Peak - FStart : 0;
  }

 private:
  static std::uint64_t Read(const std::string& Key) {
    std::ifstream Status("/proc/self/status");
    std::string Word;
    while (Status >> Word)
      if (Word == Key) {
        std::uint64_t Kb = 0;
        Status >> Kb;
        return Kb * 1024;
      }
    return 0;
  }
  std::uint64_t FStart = 0;
};
