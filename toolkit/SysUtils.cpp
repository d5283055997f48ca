#include "toolkit/SysUtils.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <vector>

#include <QLocale>

#include "toolkit/Exceptions.h"

namespace {

[[noreturn]] void BadFormat(std::string_view Fmt) {
  throw EConvertError("Format '" + std::string(Fmt) + "' invalid or incompatible with argument");
}

std::string FixedText(double V, int Decimals) {
  if (!std::isfinite(V)) return std::isnan(V) ? "NAN" : (V > 0 ? "INF" : "-INF");
  // Round halves away from zero on the decimal value, then print exactly.
  const double Scale = std::pow(10.0, Decimals);
  double R = std::round(V * Scale);
  if (!std::isfinite(R)) R = V * Scale;
  std::vector<char> Buf(400);
  std::snprintf(Buf.data(), Buf.size(), "%.*f", Decimals, R / Scale);
  std::string S(Buf.data());
  if (S.size() > 1 && S[0] == '-' && S.find_first_not_of("0.", 1) == std::string::npos) S.erase(0, 1);
  if (FormatSettings().DecimalSeparator != '.')
    for (char& C : S)
      if (C == '.') C = FormatSettings().DecimalSeparator;
  return S;
}

}  // namespace

std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args) {
  const std::vector<TVarRec> A(Args);
  std::string Out;
  std::size_t Next = 0;
  for (std::size_t I = 0; I < Fmt.size(); ++I) {
    const char C = Fmt[I];
    if (C != '%') {
      Out += C;
      continue;
    }
    if (++I >= Fmt.size()) BadFormat(Fmt);
    if (Fmt[I] == '%') {
      Out += '%';
      continue;
    }
    // Optional index "N:".
    std::size_t J = I;
    while (J < Fmt.size() && Fmt[J] >= '0' && Fmt[J] <= '9') ++J;
    if (J < Fmt.size() && Fmt[J] == ':' && J > I) {
      if (std::from_chars(Fmt.data() + I, Fmt.data() + J, Next).ec != std::errc()) BadFormat(Fmt);
      I = J + 1;
    }
    int Precision = -1;
    if (I < Fmt.size() && Fmt[I] == '.') {
      std::size_t K = I + 1;
      int P = 0;
      while (K < Fmt.size() && Fmt[K] >= '0' && Fmt[K] <= '9') P = P * 10 + (Fmt[K++] - '0');
      if (K == I + 1) BadFormat(Fmt);
      Precision = P;
      I = K;
    }
    if (I >= Fmt.size() || Next >= A.size()) BadFormat(Fmt);
    const auto& V = A[Next++].Value();
    switch (Fmt[I]) {
      case 's':
        if (!std::holds_alternative<std::string>(V)) BadFormat(Fmt);
        Out += std::get<std::string>(V);
        break;
      case 'd':
      case 'u':
        if (!std::holds_alternative<std::int64_t>(V)) BadFormat(Fmt);
        Out += std::to_string(std::get<std::int64_t>(V));
        break;
      case 'f':
        if (std::holds_alternative<double>(V))
          Out += FixedText(std::get<double>(V), Precision < 0 ? 2 : Precision);
        else
          BadFormat(Fmt);
        break;
      default:
        BadFormat(Fmt);
    }
  }
  return Out;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings Settings = [] {
    TFormatSettings S;
    const QString Point = QLocale::system().decimalPoint();
    if (Point.size() == 1 && Point[0].unicode() < 128) S.DecimalSeparator = static_cast<char>(Point[0].unicode());
    return S;
  }();
  return Settings;
}

bool TryStrToFloat(std::string_view S, double& Value) {
  std::size_t B = 0, E = S.size();
  while (B < E && (S[B] == ' ' || S[B] == '\t')) ++B;
  while (E > B && (S[E - 1] == ' ' || S[E - 1] == '\t')) --E;
  std::string T;
  std::size_t I = B;
  if (I < E && (S[I] == '+' || S[I] == '-')) {
    if (S[I] == '-') T += '-';
    ++I;
  }
  bool Digits = false;
  while (I < E && S[I] >= '0' && S[I] <= '9') {
    T += S[I++];
    Digits = true;
  }
  if (I < E && S[I] == FormatSettings().DecimalSeparator) {
    T += '.';
    ++I;
    while (I < E && S[I] >= '0' && S[I] <= '9') {
      T += S[I++];
      Digits = true;
    }
  }
  if (!Digits) return false;
  if (I < E && (S[I] == 'e' || S[I] == 'E')) {
    T += 'e';
    ++I;
    if (I < E && (S[I] == '+' || S[I] == '-')) T += S[I++];
    bool ExpDigits = false;
    while (I < E && S[I] >= '0' && S[I] <= '9') {
      T += S[I++];
      ExpDigits = true;
    }
    if (!ExpDigits) return false;
  }
  if (I != E) return false;
  double V = 0;
  const auto R = std::from_chars(T.data(), T.data() + T.size(), V);
  if (R.ec != std::errc() || R.ptr != T.data() + T.size() || !std::isfinite(V)) return false;
  Value = V;
  return true;
}

double StrToFloat(std::string_view S) {
  double V = 0;
  if (!TryStrToFloat(S, V)) throw EConvertError("'" + std::string(S) + "' is not a valid floating point value");
  return V;
}

std::string IntToStr(std::int64_t V) { return std::to_string(V); }

std::string LowerCase(std::string_view S) {
  std::string R(S);
  for (char& C : R)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return R;
}

std::string UpperCase(std::string_view S) {
  std::string R(S);
  for (char& C : R)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return R;
}

std::string ExtractFileName(std::string_view Path) {
  const auto P = Path.find_last_of("\\:/");
  return std::string(P == std::string_view::npos ? Path : Path.substr(P + 1));
}

std::string SysErrorMessage(int Code) { return std::strerror(Code); }

void Abort() { throw EAbort(); }
