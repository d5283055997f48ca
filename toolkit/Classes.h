// Streams, string lists, persistent objects and components with their
// published properties.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "toolkit/Types.h"

// ---------------------------------------------------------------------------
// Streams.

enum TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
 public:
  // Reads up to Count bytes; returns how many were read.
  virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
  virtual std::size_t Write(const void* Buffer, std::size_t Count) = 0;
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t P) { Seek(P, soBeginning); }
  std::int64_t Size();
  std::int64_t Remaining() { return Size() - Position(); }
  // Reads exactly Count bytes or raises EReadError "Stream read error".
  void ReadBuffer(void* Buffer, std::size_t Count);
  // Writes exactly Count bytes or raises EWriteError "Stream write error".
  void WriteBuffer(const void* Buffer, std::size_t Count);
  // The next N bytes (all that remain when N is omitted), read whole.
  std::vector<std::uint8_t> ReadBytes(std::size_t N);
  std::vector<std::uint8_t> ReadRest();
  std::uint8_t ReadByte();
  std::uint32_t ReadUInt32LE();
  void WriteUInt32LE(std::uint32_t V);
};

// A stream over bytes in memory. It either owns its bytes (and can grow by
// writing) or reads a span that somebody else keeps alive.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> Bytes) : FBytes(std::move(Bytes)) {}
  static std::unique_ptr<TMemoryStream> Over(std::span<const std::uint8_t> Bytes);

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

  std::span<const std::uint8_t> Bytes() const;
  // The bytes from the current position to the end, without copying.
  std::span<const std::uint8_t> RestView() const { return Bytes().subspan(FPosition); }
  // Gives up the owned bytes (for a stream that owns them).
  std::vector<std::uint8_t> TakeBytes() { return std::move(FBytes); }

 private:
  std::vector<std::uint8_t> FBytes;
  std::span<const std::uint8_t> FView;
  bool FIsView = false;
  std::size_t FPosition = 0;
};

// An allocator whose elements start uninitialised where a plain vector would
// zero them: for buffers that are filled at once (a file read into memory
// should not cost an extra pass over its bytes).
template <class T>
struct TDefaultInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TDefaultInitAllocator<U>;
  };
  TDefaultInitAllocator() = default;
  template <class U>
  TDefaultInitAllocator(const TDefaultInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* P) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(P)) U;
  }
  template <class U, class... A>
  void construct(U* P, A&&... Args) {
    ::new (static_cast<void*>(P)) U(std::forward<A>(Args)...);
  }
};
using TFileBytes = std::vector<std::uint8_t, TDefaultInitAllocator<std::uint8_t>>;

// Reads a whole regular file into memory, no more than its size at opening;
// raises EFOpenError "Cannot open file "%s". %s" with the system's text, or
// "Not a regular file" for pipes, devices and the like (never waiting on them).
TFileBytes ReadWholeFile(const std::string& FileName);

// ---------------------------------------------------------------------------
// String lists.

enum TDuplicates : std::uint8_t { dupIgnore, dupAccept, dupError };

class TStrings : public TObject {
 public:
  virtual int Count() const = 0;
  virtual const std::string& Get(int Index) const = 0;
  virtual void Put(int Index, const std::string& S) = 0;
  virtual int Add(const std::string& S) = 0;
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual int IndexOf(const std::string& S) const;

  const std::string& operator[](int Index) const { return Get(Index); }
  // Replaces the content by Source's entries, added one by one.
  virtual void Assign(const TStrings& Source);
  std::vector<std::string> ToVector() const;
  void AddStrings(std::initializer_list<std::string> Items) {
    for (const auto& S : Items) Add(S);
  }

  TNotifyEvent OnChange;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> Items) { AddStrings(Items); }

  int Count() const override { return static_cast<int>(FItems.size()); }
  const std::string& Get(int Index) const override;
  void Put(int Index, const std::string& S) override;
  // In a sorted list the entry goes to its place in ascending order; an entry that
  // compares equal to one already present is ignored (dupIgnore) and the index of
  // that one is returned.
  int Add(const std::string& S) override;
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override;
  int IndexOf(const std::string& S) const override;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates D) { FDuplicates = D; }

  // Case-insensitive comparison that follows the user's locale.
  static int CompareStrings(const std::string& A, const std::string& B);

 private:
  // Finds S in the sorted list; returns true when an equal entry exists, and the
  // index of that entry or of the place where S belongs.
  bool Find(const std::string& S, int& Index) const;
  void Changed();

  std::vector<std::string> FItems;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
};

// ---------------------------------------------------------------------------
// Values of published properties, as stored in layouts.

struct TPropValue {
  enum TKind : std::uint8_t { vkInt, vkFloat, vkString, vkIdent, vkSet, vkBinary, vkList };
  TKind Kind = vkInt;
  std::int64_t Int = 0;
  double Float = 0;
  std::string Str;                    // string or identifier
  std::vector<std::string> Items;     // set members or list entries
  std::vector<std::uint8_t> Bytes;    // binary data

  static TPropValue OfInt(std::int64_t V) { TPropValue P; P.Kind = vkInt; P.Int = V; return P; }
  static TPropValue OfFloat(double V) { TPropValue P; P.Kind = vkFloat; P.Float = V; return P; }
  static TPropValue OfString(std::string V) { TPropValue P; P.Kind = vkString; P.Str = std::move(V); return P; }
  static TPropValue OfIdent(std::string V) { TPropValue P; P.Kind = vkIdent; P.Str = std::move(V); return P; }
  static TPropValue OfSet(std::vector<std::string> V) { TPropValue P; P.Kind = vkSet; P.Items = std::move(V); return P; }
  static TPropValue OfBinary(std::vector<std::uint8_t> V) { TPropValue P; P.Kind = vkBinary; P.Bytes = std::move(V); return P; }
  static TPropValue OfList(std::vector<std::string> V) { TPropValue P; P.Kind = vkList; P.Items = std::move(V); return P; }
  friend bool operator==(const TPropValue&, const TPropValue&) = default;
};

class TComponent;

// One published property: its name, how to read it for storing (nothing when the
// value equals the saved default and so is not written), and how to apply a
// stored value.
struct TPropInfo {
  std::string Name;
  std::function<std::optional<TPropValue>(const TComponent&)> Get;
  std::function<void(TComponent&, const TPropValue&)> Set;
};

using TPropList = std::vector<TPropInfo>;

// ---------------------------------------------------------------------------
// Persistent objects and components.

class TPersistent : public TObject {
  KEST_CLASS(TPersistent)
 public:
  // Copies the content of Source; raises EConvertError when the classes do not fit.
  virtual void Assign(const TPersistent* Source);
};

enum TComponentStateItem : std::uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csUpdating,
};
using TComponentState = TSet<TComponentStateItem>;

class TComponent : public TPersistent {
  KEST_CLASS(TComponent)
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& N) { FName = N; }
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t T) { FTag = T; }
  TComponentState ComponentState() const { return FComponentState; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int I) const { return FComponents[static_cast<std::size_t>(I)].get(); }
  TComponent* FindComponent(const std::string& AName) const;

  // Makes this component the owner of C (which must have been created with this
  // owner) and returns it.
  template <class T>
  T* Own(std::unique_ptr<T> C) {
    T* Raw = C.get();
    InsertComponent(std::unique_ptr<TComponent>(std::move(C)));
    return Raw;
  }
  void InsertComponent(std::unique_ptr<TComponent> C);

  // The updating mark.
  void Updating() { FComponentState.Include(csUpdating); }
  void Updated() { FComponentState.Exclude(csUpdating); }
  void SetDesigning(bool Value);
  void SetLoading(bool Value);

  // Called once after all stored properties were applied.
  virtual void Loaded();

  // The published properties in published order: those of the base classes first.
  TPropList PublishedProperties() const {
    TPropList L;
    DefineProperties(L);
    return L;
  }

  // Names of the handlers bound to event properties through a stored layout.
  std::map<std::string, std::string>& EventNames() { return FEventNames; }
  const std::map<std::string, std::string>& EventNames() const { return FEventNames; }

  // Handlers that stored layouts can bind by name, registered by the root component.
  void RegisterMethod(const std::string& MethodName, std::any Handler);
  const std::any* FindMethod(const std::string& MethodName) const;

 protected:
  virtual void DefineProperties(TPropList& L) const;

 private:
  TComponent* FOwner;
  std::string FName;
  std::intptr_t FTag = 0;
  TComponentState FComponentState;
  std::vector<std::unique_ptr<TComponent>> FComponents;
  std::map<std::string, std::string> FEventNames;
  std::map<std::string, std::any> FMethods;
};

// Registers a class so that stored layouts can create it by name.
void RegisterClass(const TMetaClass* C);
const TMetaClass* FindClass(const std::string& Name);

// ---------------------------------------------------------------------------
// Helpers to declare published properties with saved defaults.

namespace prop {

// The component whose layout is being read: the topmost owner that is loading
// too (a form read while an application object owns it stops at the form).
inline TComponent* LayoutRoot(TComponent& O) {
  TComponent* Root = &O;
  while (Root->Owner() && Root->Owner()->ComponentState().Contains(csLoading)) Root = Root->Owner();
  return Root;
}

template <class C, class V>
TPropInfo Int(std::string Name, V (C::*Get)() const, void (C::*Set)(V), std::optional<V> Default) {
  return {Name,
          [Get, Default](const TComponent& O) -> std::optional<TPropValue> {
            const V Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            return TPropValue::OfInt(static_cast<std::int64_t>(Val));
          },
          [Set](TComponent& O, const TPropValue& P) { (static_cast<C&>(O).*Set)(static_cast<V>(P.Int)); }};
}

template <class C>
TPropInfo Bool(std::string Name, bool (C::*Get)() const, void (C::*Set)(bool), std::optional<bool> Default) {
  return {Name,
          [Get, Default](const TComponent& O) -> std::optional<TPropValue> {
            const bool Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            return TPropValue::OfIdent(Val ? "True" : "False");
          },
          [Set](TComponent& O, const TPropValue& P) { (static_cast<C&>(O).*Set)(P.Str == "True"); }};
}

template <class C>
TPropInfo Float(std::string Name, double (C::*Get)() const, void (C::*Set)(double), std::optional<double> Default) {
  return {Name,
          [Get, Default](const TComponent& O) -> std::optional<TPropValue> {
            const double Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            return TPropValue::OfFloat(Val);
          },
          [Set](TComponent& O, const TPropValue& P) {
            (static_cast<C&>(O).*Set)(P.Kind == TPropValue::vkInt ? static_cast<double>(P.Int) : P.Float);
          }};
}

template <class C>
TPropInfo String(std::string Name, std::string (C::*Get)() const, void (C::*Set)(const std::string&),
                 std::optional<std::string> Default) {
  return {Name,
          [Get, Default](const TComponent& O) -> std::optional<TPropValue> {
            std::string Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            return TPropValue::OfString(std::move(Val));
          },
          [Set](TComponent& O, const TPropValue& P) { (static_cast<C&>(O).*Set)(P.Str); }};
}

// An enumeration stored by the names of its values (index = value).
template <class C, class E>
TPropInfo Enum(std::string Name, E (C::*Get)() const, void (C::*Set)(E), std::vector<std::string> Names,
               std::optional<E> Default) {
  return {Name,
          [Get, Names, Default](const TComponent& O) -> std::optional<TPropValue> {
            const E Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            const auto I = static_cast<std::size_t>(Val);
            return TPropValue::OfIdent(I < Names.size() ? Names[I] : std::to_string(I));
          },
          [Set, Names](TComponent& O, const TPropValue& P) {
            for (std::size_t I = 0; I < Names.size(); ++I)
              if (Names[I] == P.Str) {
                (static_cast<C&>(O).*Set)(static_cast<E>(I));
                return;
              }
          }};
}

// A set stored by the names of its members.
template <class C, class E>
TPropInfo Set(std::string Name, TSet<E> (C::*Get)() const, void (C::*SetF)(TSet<E>), std::vector<std::string> Names,
              std::optional<TSet<E>> Default) {
  return {Name,
          [Get, Names, Default](const TComponent& O) -> std::optional<TPropValue> {
            const TSet<E> Val = (static_cast<const C&>(O).*Get)();
            if (Default && Val == *Default) return std::nullopt;
            std::vector<std::string> Items;
            for (std::size_t I = 0; I < Names.size(); ++I)
              if (Val.Contains(static_cast<E>(I))) Items.push_back(Names[I]);
            return TPropValue::OfSet(std::move(Items));
          },
          [SetF, Names](TComponent& O, const TPropValue& P) {
            TSet<E> S;
            for (const auto& Item : P.Items)
              for (std::size_t I = 0; I < Names.size(); ++I)
                if (Names[I] == Item) S.Include(static_cast<E>(I));
            (static_cast<C&>(O).*SetF)(S);
          }};
}

// A reference to another component of the same root, stored by its name. The
// named component must exist when the value is applied (a layout creates all its
// components before it applies any property).
template <class C, class T>
TPropInfo Reference(std::string Name, T* (C::*Get)() const, void (C::*Set)(T*)) {
  return {Name,
          [Get](const TComponent& O) -> std::optional<TPropValue> {
            const T* V = (static_cast<const C&>(O).*Get)();
            if (!V) return std::nullopt;
            return TPropValue::OfIdent(V->Name());
          },
          [Set](TComponent& O, const TPropValue& P) {
            TComponent* Root = LayoutRoot(O);
            TComponent* Found = Root->Name() == P.Str ? Root : Root->FindComponent(P.Str);
            (static_cast<C&>(O).*Set)(dynamic_cast<T*>(Found));
          }};
}

// An event: stored as the name of the root component's handler that it is bound to.
template <class C, class F>
TPropInfo Event(std::string Name, F C::*Field) {
  return {Name,
          [Name](const TComponent& O) -> std::optional<TPropValue> {
            const auto It = O.EventNames().find(Name);
            if (It == O.EventNames().end()) return std::nullopt;
            return TPropValue::OfIdent(It->second);
          },
          [Name, Field](TComponent& O, const TPropValue& P) {
            const TComponent* Root = LayoutRoot(O);
            const std::any* H = Root->FindMethod(P.Str);
            if (!H) return;
            if (const F* Fn = std::any_cast<F>(H)) {
              static_cast<C&>(O).*Field = *Fn;
              O.EventNames()[Name] = P.Str;
            }
          }};
}

}  // namespace prop
