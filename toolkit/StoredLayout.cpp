#include "toolkit/StoredLayout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"

namespace {

// The value of each hexadecimal digit character; -1 for every other byte.
constexpr std::array<std::int8_t, 256> HexDigits = [] {
  std::array<std::int8_t, 256> T{};
  for (int C = 0; C < 256; ++C)
    T[static_cast<std::size_t>(C)] = static_cast<std::int8_t>(
        C >= '0' && C <= '9' ? C - '0' : C >= 'A' && C <= 'F' ? C - 'A' + 10 : C >= 'a' && C <= 'f' ? C - 'a' + 10 : -1);
  return T;
}();

// ---------------------------------------------------------------------------
// Writing

std::string Quote(const std::string& S) {
  std::string Q = "\"";
  for (char C : S) {
    if (C == '"' || C == '\\') Q += '\\';
    if (C == '\n') {
      Q += "\\n";
      continue;
    }
    Q += C;
  }
  return Q + "\"";
}

std::string FloatText(double V) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%.17g", V);
  std::string S = Buf;
  // Shortest text that reads back to the same value.
  for (int P = 1; P <= 17; ++P) {
    std::snprintf(Buf, sizeof Buf, "%.*g", P, V);
    double Back = 0;
    std::from_chars(Buf, Buf + std::strlen(Buf), Back);
    if (Back == V) {
      S = Buf;
      break;
    }
  }
  if (S.find_first_of(".eEn") == std::string::npos) S += ".0";
  return S;
}

std::string ValueText(const TPropValue& V) {
  switch (V.Kind) {
    case TPropValue::vkInt: return std::to_string(V.Int);
    case TPropValue::vkFloat: return FloatText(V.Float);
    case TPropValue::vkString: return Quote(V.Str);
    case TPropValue::vkIdent: return V.Str;
    case TPropValue::vkSet: {
      std::string S = "[";
      for (std::size_t I = 0; I < V.Items.size(); ++I) S += (I ? ", " : "") + V.Items[I];
      return S + "]";
    }
    case TPropValue::vkList: {
      std::string S = "(";
      for (std::size_t I = 0; I < V.Items.size(); ++I) S += (I ? ", " : "") + Quote(V.Items[I]);
      return S + ")";
    }
    case TPropValue::vkBinary: {
      static const char Hex[] = "0123456789ABCDEF";
      std::string S = "{";
      S.reserve(V.Bytes.size() * 2 + 2);
      for (std::uint8_t B : V.Bytes) {
        S += Hex[B >> 4];
        S += Hex[B & 15];
      }
      return S + "}";
    }
  }
  return {};
}

void WriteObject(const TComponent& Root, const TComponent& C, int Depth, std::string& Out) {
  const std::string Indent(static_cast<std::size_t>(Depth) * 2, ' ');
  Out += Indent + "object " + C.Name() + ": " + C.ClassName() + "\n";
  for (const TPropInfo& P : C.PublishedProperties()) {
    if (P.Name == "Name") continue;
    if (const auto V = P.Get(C)) Out += Indent + "  " + P.Name + " = " + ValueText(*V) + "\n";
  }
  // Owned components nested by parent: controls inside their parent control,
  // everything else inside the root.
  for (int I = 0; I < Root.ComponentCount(); ++I) {
    const TComponent* Child = Root.Components(I);
    const auto* Ctl = dynamic_cast<const TControl*>(Child);
    const TComponent* Container = Ctl && Ctl->Parent() ? static_cast<const TComponent*>(Ctl->Parent()) : &Root;
    if (Container == &C && Child != &Root) WriteObject(Root, *Child, Depth + 1, Out);
  }
  Out += Indent + "end\n";
}

// ---------------------------------------------------------------------------
// Reading

[[noreturn]] void Bad(int Line, const std::string& What) {
  throw EReadError("Invalid layout at line " + std::to_string(Line) + ": " + What);
}

struct TPropText {
  std::string Name;
  TPropValue Value;
  int Line = 0;
};

struct TObjectText {
  std::string Name, ClassName;
  int Line = 0;
  std::vector<TPropText> Props;
  std::vector<TObjectText> Children;
};

// Forms nest a handful of levels; the limit keeps the reader's recursion (and
// that of the controls it creates) far from the end of the stack.
constexpr int MaxObjectDepth = 100;

class TParser {
 public:
  TParser(std::string_view Text, int Line) : FText(Text), FLine(Line) {}

  TPropValue Value() {
    Blanks();
    if (AtEnd()) Bad(FLine, "missing value");
    const char C = FText[FPos];
    TPropValue V;
    if (C == '"') return TPropValue::OfString(String());
    if (C == '[') {
      ++FPos;
      V.Kind = TPropValue::vkSet;
      V.Items = Items(']', [this] { return Ident(); });
      return V;
    }
    if (C == '(') {
      ++FPos;
      V.Kind = TPropValue::vkList;
      V.Items = Items(')', [this] { return String(); });
      return V;
    }
    if (C == '{') return TPropValue::OfBinary(Binary());
    if (C == '-' || C == '+' || (C >= '0' && C <= '9')) return Number();
    return TPropValue::OfIdent(Ident());
  }

  void ExpectEnd() {
    Blanks();
    if (!AtEnd()) Bad(FLine, "unexpected text after the value");
  }

 private:
  bool AtEnd() const { return FPos >= FText.size(); }
  void Blanks() {
    while (!AtEnd() && (FText[FPos] == ' ' || FText[FPos] == '\t')) ++FPos;
  }

  std::string Ident() {
    Blanks();
    const std::size_t B = FPos;
    while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(FText[FPos])) || FText[FPos] == '_' || FText[FPos] == '.'))
      ++FPos;
    if (B == FPos) Bad(FLine, "identifier expected");
    return std::string(FText.substr(B, FPos - B));
  }

  std::string String() {
    Blanks();
    if (AtEnd() || FText[FPos] != '"') Bad(FLine, "string expected");
    ++FPos;
    std::string S;
    for (;;) {
      if (AtEnd()) Bad(FLine, "unterminated string");
      char C = FText[FPos++];
      if (C == '"') return S;
      if (C == '\\') {
        if (AtEnd()) Bad(FLine, "unterminated string");
        C = FText[FPos++];
        if (C == 'n') C = '\n';
      }
      S += C;
    }
  }

  template <class F>
  std::vector<std::string> Items(char Close, F Item) {
    std::vector<std::string> V;
    Blanks();
    if (!AtEnd() && FText[FPos] == Close) {
      ++FPos;
      return V;
    }
    for (;;) {
      V.push_back(Item());
      Blanks();
      if (AtEnd()) Bad(FLine, "unterminated list");
      const char C = FText[FPos++];
      if (C == Close) return V;
      if (C != ',') Bad(FLine, "comma expected");
    }
  }

  std::vector<std::uint8_t> Binary() {
    ++FPos;
    std::vector<std::uint8_t> B;
    // Data that is all pairs of digits up to its closing brace (a stored
    // picture is thousands of them) is decoded in one pass through a table;
    // anything else goes digit by digit below, which names the fault.
    const std::size_t End = FText.find('}', FPos);
    if (End != std::string_view::npos && (End - FPos) % 2 == 0) {
      B.resize((End - FPos) / 2);
      bool Valid = true;
      for (std::size_t I = 0; I < B.size(); ++I) {
        const int Hi = HexDigits[static_cast<unsigned char>(FText[FPos + 2 * I])];
        const int Lo = HexDigits[static_cast<unsigned char>(FText[FPos + 2 * I + 1])];
        Valid &= (Hi | Lo) >= 0;
        B[I] = static_cast<std::uint8_t>(Hi << 4 | Lo);
      }
      if (Valid) {
        FPos = End + 1;
        return B;
      }
      B.clear();
    }
    auto Nibble = [this](char C) -> int {
      if (C >= '0' && C <= '9') return C - '0';
      if (C >= 'A' && C <= 'F') return C - 'A' + 10;
      if (C >= 'a' && C <= 'f') return C - 'a' + 10;
      Bad(FLine, "hexadecimal digit expected");
    };
    while (!AtEnd() && FText[FPos] != '}') {
      if (FPos + 1 >= FText.size()) Bad(FLine, "odd number of hexadecimal digits");
      B.push_back(static_cast<std::uint8_t>(Nibble(FText[FPos]) << 4 | Nibble(FText[FPos + 1])));
      FPos += 2;
    }
    if (AtEnd()) Bad(FLine, "unterminated binary data");
    ++FPos;
    return B;
  }

  TPropValue Number() {
    const std::size_t B = FPos;
    if (FText[FPos] == '-' || FText[FPos] == '+') ++FPos;
    while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(FText[FPos])) || FText[FPos] == '.' ||
                        ((FText[FPos] == '-' || FText[FPos] == '+') && (FText[FPos - 1] == 'e' || FText[FPos - 1] == 'E'))))
      ++FPos;
    std::string_view T = FText.substr(B, FPos - B);
    if (!T.empty() && T[0] == '+') T.remove_prefix(1);
    if (T.find_first_of(".eE") == std::string_view::npos) {
      std::int64_t I = 0;
      const auto R = std::from_chars(T.data(), T.data() + T.size(), I);
      if (R.ec != std::errc() || R.ptr != T.data() + T.size()) Bad(FLine, "bad integer");
      return TPropValue::OfInt(I);
    }
    double D = 0;
    const auto R = std::from_chars(T.data(), T.data() + T.size(), D);
    if (R.ec != std::errc() || R.ptr != T.data() + T.size()) Bad(FLine, "bad number");
    return TPropValue::OfFloat(D);
  }

  std::string_view FText;
  int FLine;
  std::size_t FPos = 0;
};

std::string_view Trim(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t' || S.front() == '\r')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t' || S.back() == '\r')) S.remove_suffix(1);
  return S;
}

TObjectText ParseObject(const std::vector<std::string_view>& Lines, std::size_t& I, int Depth) {
  TObjectText O;
  O.Line = static_cast<int>(I + 1);
  if (Depth > MaxObjectDepth) Bad(O.Line, "objects nested too deeply");
  const std::string_view Head = Trim(Lines[I]);
  if (Head.substr(0, 7) != "object ") Bad(O.Line, "'object' expected");
  const std::string_view Rest = Trim(Head.substr(7));
  const auto Colon = Rest.find(':');
  if (Colon == std::string_view::npos) Bad(O.Line, "'name: class' expected");
  O.Name = std::string(Trim(Rest.substr(0, Colon)));
  O.ClassName = std::string(Trim(Rest.substr(Colon + 1)));
  for (++I; I < Lines.size(); ++I) {
    const std::string_view L = Trim(Lines[I]);
    if (L.empty()) continue;
    if (L == "end") return O;
    if (L.substr(0, 7) == "object ") {
      O.Children.push_back(ParseObject(Lines, I, Depth + 1));
      continue;
    }
    const auto Eq = L.find('=');
    if (Eq == std::string_view::npos) Bad(static_cast<int>(I + 1), "'name = value' expected");
    TParser P(L.substr(Eq + 1), static_cast<int>(I + 1));
    TPropValue V = P.Value();
    P.ExpectEnd();
    O.Props.push_back({std::string(Trim(L.substr(0, Eq))), std::move(V), static_cast<int>(I + 1)});
  }
  Bad(static_cast<int>(Lines.size()), "'end' expected");
}

void CreateChildren(TComponent& Root, TComponent& Container, const TObjectText& O,
                    std::vector<std::pair<TComponent*, const TObjectText*>>& All) {
  for (const TObjectText& Child : O.Children) {
    TComponent* C = Root.FindComponent(Child.Name);
    if (!C) {
      const TMetaClass* M = FindClass(Child.ClassName);
      if (!M || !M->Create) Bad(Child.Line, "class " + Child.ClassName + " not found");
      std::unique_ptr<TObject> Obj = M->Create(&Root);
      auto* Comp = dynamic_cast<TComponent*>(Obj.get());
      if (!Comp) Bad(Child.Line, Child.ClassName + " is not a component");
      Obj.release();
      C = Root.Own(std::unique_ptr<TComponent>(Comp));
      C->SetName(Child.Name);
    }
    if (auto* Ctl = dynamic_cast<TControl*>(C))
      if (auto* Parent = dynamic_cast<TWinControl*>(&Container)) Ctl->SetParent(Parent);
    All.emplace_back(C, &Child);
    CreateChildren(Root, *C, Child, All);
  }
}

}  // namespace

std::string WriteLayout(const TComponent& Root) {
  std::string Out;
  WriteObject(Root, Root, 0, Out);
  return Out;
}

void ReadLayout(TComponent& Root, std::string_view Text) {
  std::vector<std::string_view> Lines;
  for (std::size_t P = 0; P <= Text.size();) {
    const std::size_t E = Text.find('\n', P);
    Lines.push_back(Text.substr(P, E == std::string_view::npos ? std::string_view::npos : E - P));
    if (E == std::string_view::npos) break;
    P = E + 1;
  }
  std::size_t I = 0;
  while (I < Lines.size() && Trim(Lines[I]).empty()) ++I;
  if (I == Lines.size()) Bad(1, "empty layout");
  const TObjectText Top = ParseObject(Lines, I, 1);
  std::vector<std::pair<TComponent*, const TObjectText*>> All{{&Root, &Top}};
  if (!Top.Name.empty()) Root.SetName(Top.Name);
  CreateChildren(Root, Root, Top, All);
  for (auto& [C, O] : All) C->SetLoading(true);
  for (auto& [C, O] : All) {
    const TPropList Published = C->PublishedProperties();
    for (const TPropText& T : O->Props)
      if (std::none_of(Published.begin(), Published.end(), [&T](const TPropInfo& P) { return P.Name == T.Name; }))
        Bad(T.Line, "property " + T.Name + " does not exist in " + O->ClassName);
    // Applied in published order, whatever the order of the lines.
    for (const TPropInfo& P : Published)
      for (const TPropText& T : O->Props)
        if (T.Name == P.Name) P.Set(*C, T.Value);
  }
  for (auto& [C, O] : All) {
    C->SetLoading(false);
    C->Loaded();
  }
}
