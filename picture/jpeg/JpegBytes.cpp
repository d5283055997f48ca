#include "picture/jpeg/JpegBytes_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "picture/jpeg/Jpeg.h"
#include "toolkit/Exceptions.h"
#include "toolkit/SysUtils.h"

namespace {

std::int64_t ModifiedNs(const struct stat& St) {
  return static_cast<std::int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
}

// Reads up to Count bytes at Offset; how many were read, fewer at the file's end.
// Raises EReadError with the system's message.
std::size_t ReadAt(int Fd, std::uint8_t* To, std::size_t Count, std::size_t Offset) {
  std::size_t Got = 0;
  while (Got < Count) {
    const ssize_t N = ::pread(Fd, To + Got, Count - Got, static_cast<off_t>(Offset + Got));
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) throw EReadError(SysErrorMessage(errno));
    if (N == 0) break;
    Got += static_cast<std::size_t>(N);
  }
  return Got;
}

}  // namespace

std::size_t& JpegReadWholeUpTo() {
  static std::size_t UpTo = std::size_t{4} << 20;
  return UpTo;
}

TJpegBytes::TJpegBytes(TFileBytes Bytes)
    : FBytes(std::move(Bytes)), FBase(FBytes.data()), FRead(FBytes.size()), FSize(FBytes.size()) {}

TJpegBytes::TJpegBytes(std::vector<std::uint8_t> Bytes)
    : FGiven(std::move(Bytes)), FBase(FGiven.data()), FRead(FGiven.size()), FSize(FGiven.size()) {}

TJpegBytes::~TJpegBytes() {
  if (FFd >= 0) ::close(FFd);
}

std::shared_ptr<TJpegBytes> TJpegBytes::Open(const std::string& FileName, std::size_t Start) {
  auto Refuse = [&FileName](const std::string& Reason) {
    throw EFOpenError(Format("Cannot open file \"%s\". %s", {FileName, Reason}));
  };
  std::shared_ptr<TJpegBytes> B(new TJpegBytes);
  B->FFileName = FileName;
  // As ReadWholeFile: the open does not wait (a FIFO), only a regular file is read.
  B->FFd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (B->FFd < 0) Refuse(SysErrorMessage(errno));
  struct stat St {};
  if (::fstat(B->FFd, &St) != 0) Refuse(SysErrorMessage(errno));
  if (S_ISDIR(St.st_mode)) Refuse(SysErrorMessage(EISDIR));
  if (!S_ISREG(St.st_mode)) Refuse("Not a regular file");
  if (static_cast<std::uint64_t>(St.st_size) > B->FBytes.max_size()) Refuse(SysErrorMessage(ENOMEM));
  B->FSize = static_cast<std::size_t>(St.st_size);
  B->FModified = ModifiedNs(St);
  const std::size_t First = std::min(Start, B->FSize);
  try {
    // The whole size is reserved now (its pages are touched only when read)
    // so that the rest is read after the start without moving it.
    B->FBytes.resize(B->FSize);
    B->FBase = B->FBytes.data();
    B->FRead = ReadAt(B->FFd, B->FBytes.data(), First, 0);
  } catch (const std::bad_alloc&) {
    Refuse(SysErrorMessage(ENOMEM));
  } catch (const EReadError& E) {
    Refuse(E.Message());
  }
  if (B->FRead < First) {
    // The file shrank while it was opened: what was there is all there is,
    // as ReadWholeFile would have read it.
    B->FSize = B->FRead;
    B->FBytes.resize(B->FSize);
    B->FBase = B->FBytes.data();
  }
  if (B->FSize <= JpegReadWholeUpTo()) {
    // A small file is read whole and closed at once: it costs a few
    // milliseconds at most, and a host that holds many pictures must not hold
    // as many open files.
    try {
      const std::lock_guard<std::mutex> Lock(B->FMutex);
      if (B->FRead < B->FSize) B->ReadRest();
    } catch (const EReadError& E) {
      Refuse(E.Message());
    }
    ::close(B->FFd);
    B->FFd = -1;
  }
  return B;
}

bool TJpegBytes::Complete() const {
  const std::lock_guard<std::mutex> Lock(FMutex);
  return FRead == FSize;
}

std::span<const std::uint8_t> TJpegBytes::Start() const {
  const std::lock_guard<std::mutex> Lock(FMutex);
  return {FBase, FRead};
}

std::span<const std::uint8_t> TJpegBytes::All() const {
  const std::lock_guard<std::mutex> Lock(FMutex);
  if (FRead < FSize) ReadRest();
  return {FBase, FSize};
}

void TJpegBytes::CheckUnchanged() const {
  const std::lock_guard<std::mutex> Lock(FMutex);
  if (FRead < FSize) Check();
}

void TJpegBytes::Check() const {
  if (FFailure) std::rethrow_exception(FFailure);
  try {
    struct stat St {};
    if (::fstat(FFd, &St) != 0) throw EReadError(SysErrorMessage(errno));
    if (static_cast<std::uint64_t>(St.st_size) != FSize || ModifiedNs(St) != FModified)
      throw EReadError(Format("The file \"%s\" changed after it was loaded", {FFileName}));
  } catch (...) {
    FFailure = std::current_exception();
    throw;
  }
}

std::size_t TJpegBytes::Read(std::size_t Offset, std::uint8_t* To, std::size_t Count) const {
  const std::lock_guard<std::mutex> Lock(FMutex);
  if (Offset >= FSize) return 0;
  Count = std::min(Count, FSize - Offset);
  if (Offset + Count <= FRead) {
    std::memcpy(To, FBase + Offset, Count);
    return Count;
  }
  Check();
  try {
    return ReadAt(FFd, To, Count, Offset);
  } catch (...) {
    FFailure = std::current_exception();
    throw;
  }
}

void TJpegBytes::ReadRest() const {
  Check();
  try {
    if (ReadAt(FFd, FBytes.data() + FRead, FSize - FRead, FRead) != FSize - FRead)
      throw EReadError(Format("The file \"%s\" changed after it was loaded", {FFileName}));
    FRead = FSize;
  } catch (...) {
    FFailure = std::current_exception();
  }
  if (FFailure) {
    // The bytes read are no use any more.
    FBytes = TFileBytes();
    FBase = nullptr;
    FRead = 0;
    std::rethrow_exception(FFailure);
  }
}
