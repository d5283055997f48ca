#include "toolkit/SysUtils.h"

#include <gtest/gtest.h>

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
