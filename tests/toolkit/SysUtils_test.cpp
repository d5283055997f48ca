#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <string>

#include "toolkit/Exceptions.h"

namespace {

// Restores the decimal separator after a test changed it.
struct SeparatorGuard {
  char Saved = FormatSettings().DecimalSeparator;
  ~SeparatorGuard() { FormatSettings().DecimalSeparator = Saved; }
};

TEST(Format, DirectivesAndIndexedArguments) {
  EXPECT_EQ(Format("%s (*.%s)|*.%2:s", {"Bitmaps", "x", "bmp"}), "Bitmaps (*.x)|*.bmp");
  EXPECT_EQ(Format("%s (%s)|%1:s|%s", {"All", "*.a;*.b", "rest"}), "All (*.a;*.b)|*.a;*.b|rest");
  EXPECT_EQ(Format(" (%dx%d)", {640, 480}), " (640x480)");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("System Error.  Code: %d.\r\n%s", {8, "Out of memory"}), "System Error.  Code: 8.\r\nOut of memory");
}

TEST(Format, FixedPointRoundsHalvesAwayFromZero) {
  const struct {
    double Value;
    const char* Text;
  } Cases[] = {{12.5, "13"}, {13.5, "14"}, {0.1, "0"}, {100.0, "100"}, {-12.5, "-13"}, {0.4999, "0"}, {-0.4, "0"}};
  for (const auto& C : Cases) EXPECT_EQ(Format("%.0f", {C.Value}), C.Text) << C.Value;
  EXPECT_EQ(Format("%.0f%%", {0.125 * 100}), "13%");
}

TEST(Format, MismatchedArgumentIsAConvertError) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);
}

TEST(Format, FixedPointWithoutAPrecisionHasTwoDecimals) {
  SeparatorGuard G;
  FormatSettings().DecimalSeparator = '.';
  const struct {
    double Value;
    const char* Text;
  } Cases[] = {{3.14159, "3.14"}, {2.5, "2.50"}, {0.125, "0.13"}, {-0.125, "-0.13"}, {-0.001, "0.00"},
               {1e6, "1000000.00"}, {0, "0.00"}};
  for (const auto& C : Cases) EXPECT_EQ(Format("%f", {C.Value}), C.Text) << C.Value;
  EXPECT_EQ(Format("%.3f|%f", {1.0, 7.0}), "1.000|7.00");
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Format("%f", {1.5}), "1,50");
  EXPECT_EQ(Format("%.1f", {-2.25}), "-2,3");
}

TEST(Format, NumbersThatAreNotFinite) {
  const double Inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Format("%f", {Inf}), "INF");
  EXPECT_EQ(Format("%.0f", {-Inf}), "-INF");
  EXPECT_EQ(Format("%f", {std::numeric_limits<double>::quiet_NaN()}), "NAN");
}

TEST(Format, BrokenDirectivesAreConvertErrorsNamingTheFormat) {
  for (const char* Bad : {"%", "100%", "%.f", "%x", "%5:s", "%99999999999999999999:s", "%f", "%s", "%d"}) {
    try {
      Format(Bad, {Bad == std::string("%f") ? TVarRec(1) : Bad == std::string("%s") ? TVarRec(2) : TVarRec(2.5)});
      ADD_FAILURE() << Bad;
    } catch (const EConvertError& E) {
      EXPECT_EQ(E.Message(), std::string("Format '") + Bad + "' invalid or incompatible with argument");
    }
  }
  EXPECT_EQ(Format("%u %d", {7u, -3}), "7 -3");
  EXPECT_EQ(Format("%1:s-%0:s-%s", {"a", "b"}), "b-a-b");
}

TEST(SysUtils, CaseConversionTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCase("AbZ09@[`{"), "abz09@[`{");
  EXPECT_EQ(UpperCase("azAZ09@[`{"), "AZAZ09@[`{");
  const std::string Umlaut = "\xC3\xA4\xC3\x84";  // bytes that are no letters to ASCII
  EXPECT_EQ(UpperCase(Umlaut), Umlaut);
  EXPECT_EQ(LowerCase(Umlaut), Umlaut);
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(SysErrorMessage(ENOENT), "No such file or directory");
}

TEST(StrToFloat, FollowsTheDecimalSeparator) {
  SeparatorGuard G;
  FormatSettings().DecimalSeparator = '.';
  EXPECT_DOUBLE_EQ(StrToFloat("01.50"), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloat(" -2.5e1 "), -25.0);
  EXPECT_DOUBLE_EQ(StrToFloat("10"), 10.0);
  EXPECT_THROW(StrToFloat("1,5"), EConvertError);

  FormatSettings().DecimalSeparator = ',';
  EXPECT_DOUBLE_EQ(StrToFloat("1,5"), 1.5);
  EXPECT_THROW(StrToFloat("1.5"), EConvertError);
}

TEST(StrToFloat, RejectsWhatIsNotANumber) {
  SeparatorGuard G;
  FormatSettings().DecimalSeparator = '.';
  for (const char* Bad : {"", "abc", ".", "-", "1e", "1.5x", "1 5", "inf", "nan", "1e999"}) {
    double V = 7;
    EXPECT_FALSE(TryStrToFloat(Bad, V)) << Bad;
    EXPECT_EQ(V, 7) << Bad;
  }
  try {
    StrToFloat("abc");
    FAIL();
  } catch (const EConvertError& E) {
    EXPECT_EQ(E.Message(), "'abc' is not a valid floating point value");
  }
}

TEST(ExtractFileName, SplitsAtEveryKindOfSeparator) {
  EXPECT_EQ(ExtractFileName("C:\\pics\\a.jpg"), "a.jpg");
  EXPECT_EQ(ExtractFileName("/home/u/b.bmp"), "b.bmp");
  EXPECT_EQ(ExtractFileName("C:a.jpg"), "a.jpg");
  EXPECT_EQ(ExtractFileName("plain"), "plain");
}

}  // namespace
