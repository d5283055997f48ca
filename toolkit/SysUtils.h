// Text formatting and conversion helpers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// One argument of Format: an integer, a floating-point number or a text.
class TVarRec {
 public:
  TVarRec(int V) : FValue(std::int64_t{V}) {}
  TVarRec(long V) : FValue(std::int64_t{V}) {}
  TVarRec(long long V) : FValue(std::int64_t{V}) {}
  TVarRec(unsigned V) : FValue(std::int64_t{V}) {}
  TVarRec(double V) : FValue(V) {}
  TVarRec(const char* V) : FValue(std::string(V)) {}
  TVarRec(std::string V) : FValue(std::move(V)) {}
  TVarRec(std::string_view V) : FValue(std::string(V)) {}
  const std::variant<std::int64_t, double, std::string>& Value() const { return FValue; }

 private:
  std::variant<std::int64_t, double, std::string> FValue;
};

// Formats Args into Fmt. Directives: %s, %d, %u, %f and %.Nf (fixed point with N
// decimals, halves rounded away from zero), %% for a percent sign, and an index
// as in %2:s that picks the argument (counted from 0) for this directive and the
// ones after it. A directive that does not match its argument raises EConvertError.
std::string Format(std::string_view Fmt, std::initializer_list<TVarRec> Args);

// Number conversion that follows the user's decimal separator.
struct TFormatSettings {
  char DecimalSeparator = '.';
};
// The process-wide settings, read from the user's locale at start-up (a full stop
// when the locale names no separator). Tests may change them.
TFormatSettings& FormatSettings();

// Converts a decimal text with FormatSettings().DecimalSeparator, optional sign,
// optional exponent and surrounding blanks. Raises EConvertError
// "'%s' is not a valid floating point value" otherwise.
double StrToFloat(std::string_view S);
bool TryStrToFloat(std::string_view S, double& Value);
std::string IntToStr(std::int64_t V);

// ASCII-only case conversion.
std::string LowerCase(std::string_view S);
std::string UpperCase(std::string_view S);

// The part of a path after its last "\", ":" or "/".
std::string ExtractFileName(std::string_view Path);

// The system's text for an error code.
std::string SysErrorMessage(int Code);
