#include "toolkit/Classes.h"

#include <gtest/gtest.h>

#include "toolkit/Exceptions.h"

namespace {

TEST(TStringList, SortedListOrdersAsTextAndIgnoresDuplicates) {
  TStringList L;
  L.SetSorted(true);
  for (const char* S : {"08.00", "00.10", "01.00", "00.75", "01.00"}) L.Add(S);
  EXPECT_EQ(L.ToVector(), (std::vector<std::string>{"00.10", "00.75", "01.00", "08.00"}));

  TStringList N;
  N.SetSorted(true);
  N.Add("2");
  N.Add("10");
  EXPECT_EQ(N.ToVector(), (std::vector<std::string>{"10", "2"}));  // text order, not numeric
}

TEST(TStringList, DuplicatesIgnoreCase) {
  TStringList L;
  L.SetSorted(true);
  L.Add("Abc");
  EXPECT_EQ(L.Add("aBC"), 0);
  L.Add("abd");
  EXPECT_EQ(L.Count(), 2);
  EXPECT_EQ(L[0], "Abc");
  EXPECT_EQ(L.IndexOf("ABD"), 1);
  EXPECT_EQ(L.IndexOf("x"), -1);
}

TEST(TStringList, UnsortedKeepsOrderAndSortingLater) {
  TStringList L{"b", "a", "c"};
  EXPECT_EQ(L.ToVector(), (std::vector<std::string>{"b", "a", "c"}));
  L.SetSorted(true);
  EXPECT_EQ(L.ToVector(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_THROW(L.Insert(0, "z"), EListError);
  EXPECT_THROW(L.Get(3), EListError);
}

TEST(TMemoryStream, ReadBufferPastTheEndIsAReadError) {
  TMemoryStream S(std::vector<std::uint8_t>{1, 2, 3});
  std::uint8_t B[4];
  try {
    S.ReadBuffer(B, 4);
    FAIL();
  } catch (const EReadError& E) {
    EXPECT_EQ(E.Message(), "Stream read error");
  }
  S.SetPosition(1);
  EXPECT_EQ(S.ReadByte(), 2);
  EXPECT_EQ(S.Remaining(), 1);
}

TEST(ReadWholeFile, MissingFileIsAnOpenErrorWithTheSystemText) {
  try {
    ReadWholeFile("/nonexistent/dir/file.bmp");
    FAIL();
  } catch (const EFOpenError& E) {
    EXPECT_EQ(E.Message(), "Cannot open file \"/nonexistent/dir/file.bmp\". No such file or directory");
  }
}

}  // namespace
