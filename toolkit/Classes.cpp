#include "toolkit/Classes.h"
#include "toolkit/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <climits>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QCollator>
#include <QLocale>
#include <QString>

#include "toolkit/Exceptions.h"
#include "toolkit/SysUtils.h"

const TMetaClass* TObject::StaticClass() {
  static const TMetaClass M{"TObject", nullptr, nullptr};
  return &M;
}

TRect IntersectRect(const TRect& A, const TRect& B) {
  TRect R{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
          std::min(A.Bottom, B.Bottom)};
  if (R.IsEmpty()) return TRect{};
  return R;
}

// ---------------------------------------------------------------------------
// TStream

std::int64_t TStream::Size() {
  const std::int64_t P = Seek(0, soCurrent);
  const std::int64_t S = Seek(0, soEnd);
  Seek(P, soBeginning);
  return S;
}

void TStream::ReadBuffer(void* Buffer, std::size_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::size_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

std::vector<std::uint8_t> TStream::ReadBytes(std::size_t N) {
  const std::int64_t Left = Remaining();
  if (Left < 0 || static_cast<std::uint64_t>(Left) < N) throw EReadError("Stream read error");
  std::vector<std::uint8_t> B(N);
  ReadBuffer(B.data(), N);
  return B;
}

std::vector<std::uint8_t> TStream::ReadRest() {
  const std::int64_t Left = Remaining();
  return ReadBytes(Left > 0 ? static_cast<std::size_t>(Left) : 0);
}

std::uint8_t TStream::ReadByte() {
  std::uint8_t B = 0;
  ReadBuffer(&B, 1);
  return B;
}

std::uint32_t TStream::ReadUInt32LE() {
  std::uint8_t B[4];
  ReadBuffer(B, 4);
  return B[0] | (B[1] << 8) | (B[2] << 16) | (std::uint32_t{B[3]} << 24);
}

void TStream::WriteUInt32LE(std::uint32_t V) {
  const std::uint8_t B[4] = {static_cast<std::uint8_t>(V), static_cast<std::uint8_t>(V >> 8),
                             static_cast<std::uint8_t>(V >> 16), static_cast<std::uint8_t>(V >> 24)};
  WriteBuffer(B, 4);
}

// ---------------------------------------------------------------------------
// TMemoryStream

std::unique_ptr<TMemoryStream> TMemoryStream::Over(std::span<const std::uint8_t> Bytes) {
  auto S = std::make_unique<TMemoryStream>();
  S->FView = Bytes;
  S->FIsView = true;
  return S;
}

std::span<const std::uint8_t> TMemoryStream::Bytes() const {
  return FIsView ? FView : std::span<const std::uint8_t>(FBytes);
}

std::size_t TMemoryStream::Read(void* Buffer, std::size_t Count) {
  const auto B = Bytes();
  const std::size_t N = std::min(Count, B.size() - std::min(FPosition, B.size()));
  if (N) std::memcpy(Buffer, B.data() + FPosition, N);
  FPosition += N;
  return N;
}

std::size_t TMemoryStream::Write(const void* Buffer, std::size_t Count) {
  if (FIsView) throw EWriteError("Stream write error");
  if (FPosition + Count > FBytes.size()) FBytes.resize(FPosition + Count);
  if (Count) std::memcpy(FBytes.data() + FPosition, Buffer, Count);
  FPosition += Count;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const auto Size = static_cast<std::int64_t>(Bytes().size());
  std::int64_t P = Offset;
  if (Origin == soCurrent) P += static_cast<std::int64_t>(FPosition);
  if (Origin == soEnd) P += Size;
  FPosition = static_cast<std::size_t>(std::clamp<std::int64_t>(P, 0, Size));
  return static_cast<std::int64_t>(FPosition);
}

TFileBytes ReadWholeFile(const std::string& FileName) { return TReadOnlyFile(FileName).ReadAll(); }

TReadOnlyFile::TReadOnlyFile(const std::string& FileName) : FName(FileName) {
  // The open does not wait: opening a FIFO for reading would block until a
  // writer came, possibly for ever.
  FFd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (FFd < 0) Refuse(SysErrorMessage(errno));
  struct stat St {};
  const int Stat = ::fstat(FFd, &St);
  const int Error = errno;
  auto Fail = [&](const std::string& Reason) {
    ::close(FFd);
    Refuse(Reason);
  };
  if (Stat != 0) Fail(SysErrorMessage(Error));
  // Only a regular file has a size that bounds the read: a pipe or a device
  // (a link to /dev/zero) could deliver bytes without end.
  if (S_ISDIR(St.st_mode)) Fail(SysErrorMessage(EISDIR));
  if (!S_ISREG(St.st_mode)) Fail("Not a regular file");
  FSize = static_cast<std::uint64_t>(St.st_size);
}

TReadOnlyFile::~TReadOnlyFile() { ::close(FFd); }

void TReadOnlyFile::Refuse(const std::string& Reason) const {
  throw EFOpenError(Format("Cannot open file \"%s\". %s", {FName, Reason}));
}

std::size_t TReadOnlyFile::ReadAt(std::uint64_t Offset, std::uint8_t* const* Buffers, const std::size_t* Lengths,
                                  std::size_t Count) {
  // No more than the size at opening is read: a file that grows meanwhile is
  // cut there, one that shrinks ends early.
  std::uint64_t Left = Offset < FSize ? FSize - Offset : 0;
  std::size_t Got = 0;
  std::vector<iovec> Parts;
  Parts.reserve(std::min<std::size_t>(Count, IOV_MAX));
  std::size_t Next = 0;       // the buffer to fill next
  std::size_t NextDone = 0;   // bytes of it already filled
  while (Next < Count && Left > 0) {
    Parts.clear();
    std::uint64_t Asked = 0;
    for (std::size_t I = Next; I < Count && Parts.size() < IOV_MAX && Asked < Left; ++I) {
      const std::size_t Skip = I == Next ? NextDone : 0;
      const std::size_t L = static_cast<std::size_t>(std::min<std::uint64_t>(Lengths[I] - Skip, Left - Asked));
      if (L) Parts.push_back(iovec{Buffers[I] + Skip, L});
      Asked += L;
    }
    if (Parts.empty()) {  // only empty buffers left
      ++Next;
      NextDone = 0;
      continue;
    }
    const ssize_t N = ::preadv(FFd, Parts.data(), static_cast<int>(Parts.size()), static_cast<off_t>(Offset + Got));
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) Refuse(SysErrorMessage(errno));
    if (N == 0) break;
    Got += static_cast<std::size_t>(N);
    Left -= static_cast<std::uint64_t>(N);
    // Moves past the buffers the read filled.
    std::size_t Bytes = static_cast<std::size_t>(N);
    while (Next < Count && Bytes >= Lengths[Next] - NextDone) {
      Bytes -= Lengths[Next] - NextDone;
      ++Next;
      NextDone = 0;
    }
    NextDone += Bytes;
  }
  return Got;
}

TFileBytes TReadOnlyFile::ReadAll() {
  TFileBytes Bytes;
  if (FSize > Bytes.max_size()) Refuse(SysErrorMessage(ENOMEM));
  try {
    Bytes.resize(static_cast<std::size_t>(FSize));
  } catch (const std::bad_alloc&) {
    // A file too large for memory is reported like any other failure to read it.
    Refuse(SysErrorMessage(ENOMEM));
  }
  Bytes.resize(ReadAt(0, Bytes.data(), Bytes.size()));
  return Bytes;
}

// ---------------------------------------------------------------------------
// TStrings

int TStrings::IndexOf(const std::string& S) const {
  for (int I = 0; I < Count(); ++I)
    if (TStringList::CompareStrings(Get(I), S) == 0) return I;
  return -1;
}

void TStrings::Assign(const TStrings& Source) {
  if (&Source == this) return;
  const std::vector<std::string> Items = Source.ToVector();
  Clear();
  for (const auto& S : Items) Add(S);
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> V;
  V.reserve(static_cast<std::size_t>(Count()));
  for (int I = 0; I < Count(); ++I) V.push_back(Get(I));
  return V;
}

// ---------------------------------------------------------------------------
// TStringList

int TStringList::CompareStrings(const std::string& A, const std::string& B) {
  static const QCollator Collator = [] {
    QCollator C(QLocale::system());
    C.setCaseSensitivity(Qt::CaseInsensitive);
    C.setNumericMode(false);
    C.setIgnorePunctuation(false);
    return C;
  }();
  const int R = Collator.compare(QString::fromUtf8(A), QString::fromUtf8(B));
  if (R != 0) return R < 0 ? -1 : 1;
  // Collators may call texts equal that differ in more than case; only a
  // case-insensitive match counts as a duplicate.
  const int C = QString::compare(QString::fromUtf8(A), QString::fromUtf8(B), Qt::CaseInsensitive);
  return C < 0 ? -1 : (C > 0 ? 1 : 0);
}

const std::string& TStringList::Get(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
  return FItems[static_cast<std::size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& S) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
  FItems[static_cast<std::size_t>(Index)] = S;
  Changed();
}

bool TStringList::Find(const std::string& S, int& Index) const {
  int L = 0, H = Count() - 1;
  bool Found = false;
  while (L <= H) {
    const int I = (L + H) / 2;
    const int C = CompareStrings(FItems[static_cast<std::size_t>(I)], S);
    if (C < 0) {
      L = I + 1;
    } else {
      H = I - 1;
      if (C == 0) Found = true;
    }
  }
  Index = L;
  return Found;
}

int TStringList::Add(const std::string& S) {
  if (!FSorted) {
    Insert(Count(), S);
    return Count() - 1;
  }
  int Index = 0;
  if (Find(S, Index)) {
    if (FDuplicates == dupIgnore) return Index;
    if (FDuplicates == dupError) throw EListError("String list does not allow duplicates");
  }
  FItems.insert(FItems.begin() + Index, S);
  Changed();
  return Index;
}

void TStringList::Insert(int Index, const std::string& S) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  if (Index < 0 || Index > Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
  FItems.insert(FItems.begin() + Index, S);
  Changed();
}

void TStringList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

int TStringList::IndexOf(const std::string& S) const {
  if (!FSorted) return TStrings::IndexOf(S);
  int Index = 0;
  return Find(S, Index) ? Index : -1;
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  FSorted = Value;
  if (Value) {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const std::string& A, const std::string& B) { return CompareStrings(A, B) < 0; });
    Changed();
  }
}

void TStringList::Changed() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------
// TPersistent and TComponent

KEST_ABSTRACT_CLASS_IMPL(TPersistent, TObject)
KEST_CLASS_IMPL(TComponent, TPersistent)

void TPersistent::Assign(const TPersistent* Source) {
  throw EConvertError(Format("Cannot assign a %s to a %s",
                             {Source ? Source->ClassName() : std::string("nil"), ClassName()}));
}

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {}

TComponent::~TComponent() {
  FComponentState.Include(csDestroying);
  // Owned components go in the reverse order of their insertion.
  while (!FComponents.empty()) {
    std::unique_ptr<TComponent> C = std::move(FComponents.back());
    FComponents.pop_back();
    C.reset();
  }
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> C) {
  C->FOwner = this;
  FComponents.push_back(std::move(C));
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  for (const auto& C : FComponents)
    if (!AName.empty() && QString::compare(QString::fromStdString(C->Name()), QString::fromStdString(AName),
                                           Qt::CaseInsensitive) == 0)
      return C.get();
  return nullptr;
}

void TComponent::SetDesigning(bool Value) {
  if (Value)
    FComponentState.Include(csDesigning);
  else
    FComponentState.Exclude(csDesigning);
}

void TComponent::SetLoading(bool Value) {
  if (Value)
    FComponentState.Include(csLoading).Include(csReading);
  else
    FComponentState.Exclude(csLoading).Exclude(csReading);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::RegisterMethod(const std::string& MethodName, std::any Handler) {
  FMethods[MethodName] = std::move(Handler);
}

const std::any* TComponent::FindMethod(const std::string& MethodName) const {
  const auto It = FMethods.find(MethodName);
  return It == FMethods.end() ? nullptr : &It->second;
}

void TComponent::DefineProperties(TPropList& L) const {
  L.push_back({"Name", [](const TComponent& O) -> std::optional<TPropValue> {
                 if (O.Name().empty()) return std::nullopt;
                 return TPropValue::OfString(O.Name());
               },
               [](TComponent& O, const TPropValue& P) { O.SetName(P.Str); }});
  L.push_back({"Tag", [](const TComponent& O) -> std::optional<TPropValue> {
                 if (O.Tag() == 0) return std::nullopt;
                 return TPropValue::OfInt(O.Tag());
               },
               [](TComponent& O, const TPropValue& P) { O.SetTag(static_cast<std::intptr_t>(P.Int)); }});
}

namespace {
std::map<std::string, const TMetaClass*>& ClassRegistry() {
  static std::map<std::string, const TMetaClass*> R;
  return R;
}
}  // namespace

void RegisterClass(const TMetaClass* C) { ClassRegistry()[C->Name] = C; }

const TMetaClass* FindClass(const std::string& Name) {
  const auto It = ClassRegistry().find(Name);
  return It == ClassRegistry().end() ? nullptr : It->second;
}
