#include "toolkit/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

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

TEST(TStringList, SortedDuplicatesAcceptedOrRefused) {
  TStringList L;
  L.SetSorted(true);
  L.SetDuplicates(dupAccept);
  for (const char* S : {"b", "a", "B", "c"}) L.Add(S);
  EXPECT_EQ(L.Count(), 4);
  EXPECT_EQ(L[0], "a");
  EXPECT_EQ(L[3], "c");
  L.SetDuplicates(dupError);
  try {
    L.Add("C");
    FAIL();
  } catch (const EListError& E) {
    EXPECT_EQ(E.Message(), "String list does not allow duplicates");
  }
  EXPECT_EQ(L.Count(), 4);
}

TEST(TStringList, IndexErrorsNameTheIndexAndChangesAreAnnounced) {
  TStringList L{"x", "y"};
  int Changes = 0;
  L.OnChange = [&](TObject*) { ++Changes; };
  const struct {
    const char* What;
    std::function<void()> Call;
    const char* Message;
  } Cases[] = {
      {"get past the end", [&] { L.Get(2); }, "List index out of bounds (2)"},
      {"get before the start", [&] { L.Get(-1); }, "List index out of bounds (-1)"},
      {"put past the end", [&] { L.Put(2, "z"); }, "List index out of bounds (2)"},
      {"insert past the end", [&] { L.Insert(3, "z"); }, "List index out of bounds (3)"},
      {"delete past the end", [&] { L.Delete(2); }, "List index out of bounds (2)"},
  };
  for (const auto& C : Cases) {
    try {
      C.Call();
      ADD_FAILURE() << C.What;
    } catch (const EListError& E) {
      EXPECT_EQ(E.Message(), C.Message) << C.What;
    }
  }
  EXPECT_EQ(Changes, 0);
  L.Insert(2, "z");  // the end itself is a place to insert
  L.Put(0, "w");
  L.Delete(1);
  L.Clear();
  L.Clear();  // already empty: no change
  EXPECT_EQ(Changes, 4);
}

TEST(TStringList, AssignCopiesAndUnsortedIndexOfIgnoresCase) {
  TStringList A{"Zeta", "alpha"};
  TStringList B;
  B.SetSorted(true);
  B.Assign(A);
  EXPECT_EQ(B.ToVector(), (std::vector<std::string>{"alpha", "Zeta"}));
  A.Assign(A);
  EXPECT_EQ(A.Count(), 2);
  EXPECT_EQ(A.IndexOf("ZETA"), 0);
  EXPECT_EQ(A.IndexOf("alph"), -1);
  EXPECT_THROW(B.Put(0, "x"), EListError);
}

TEST(TMemoryStream, WritesGrowSeeksClampAndNumbersAreLittleEndian) {
  TMemoryStream S;
  S.WriteUInt32LE(0x11223344u);
  S.SetPosition(6);  // past the end: the position stays at the end
  EXPECT_EQ(S.Position(), 4);
  S.WriteUInt32LE(0xA0B0C0D0u);
  EXPECT_EQ(S.Size(), 8);
  EXPECT_EQ(std::vector<std::uint8_t>(S.Bytes().begin(), S.Bytes().end()),
            (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0}));
  EXPECT_EQ(S.Seek(-3, soEnd), 5);
  EXPECT_EQ(S.Seek(100, soCurrent), 8);
  EXPECT_EQ(S.Seek(-100, soCurrent), 0);
  EXPECT_EQ(S.ReadUInt32LE(), 0x11223344u);
  S.SetPosition(2);
  S.WriteBuffer("\x55", 1);  // overwriting inside keeps the size
  EXPECT_EQ(S.Size(), 8);
  S.SetPosition(4);
  EXPECT_EQ(S.ReadUInt32LE(), 0xA0B0C0D0u);
  EXPECT_EQ(S.Remaining(), 0);
  EXPECT_TRUE(S.ReadRest().empty());
  EXPECT_EQ(S.Bytes()[2], 0x55);
}

TEST(TMemoryStream, AViewReadsWithoutCopyingAndRefusesWrites) {
  const std::vector<std::uint8_t> Bytes{1, 2, 3, 4, 5};
  auto S = TMemoryStream::Over(Bytes);
  EXPECT_EQ(S->Bytes().data(), Bytes.data());
  S->SetPosition(2);
  EXPECT_EQ(S->RestView().data(), Bytes.data() + 2);
  // Asking for more than remains fails before anything is read.
  EXPECT_THROW(S->ReadBytes(4), EReadError);
  EXPECT_EQ(S->Position(), 2);
  EXPECT_EQ(S->ReadBytes(3), (std::vector<std::uint8_t>{3, 4, 5}));
  EXPECT_THROW(S->WriteUInt32LE(1), EWriteError);
}

TEST(IntersectRect, CommonPartOrAllZero) {
  const struct {
    TRect A, B, Expected;
  } Cases[] = {
      {{0, 0, 10, 10}, {5, 5, 20, 20}, {5, 5, 10, 10}},
      {{0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 0, 0}},  // edges touch: nothing in common
      {{0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}},
      {{-5, -5, 0, 0}, {-10, -2, -3, 7}, {-5, -2, -3, 0}},
      {{0, 0, 10, 10}, {3, 12, 5, 20}, {0, 0, 0, 0}},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(IntersectRect(C.A, C.B), C.Expected);
    EXPECT_EQ(IntersectRect(C.B, C.A), C.Expected);
  }
}

TEST(TComponent, OwnedComponentsAreFoundByNameAndFreedInReverseOrder) {
  std::vector<std::string> Freed;
  class TNoted : public TComponent {
   public:
    TNoted(TComponent* O, std::vector<std::string>& L) : TComponent(O), Log(L) {}
    ~TNoted() override { Log.push_back(Name()); }
    std::vector<std::string>& Log;
  };
  {
    TComponent Owner(nullptr);
    for (const char* N : {"First", "Second", ""}) Owner.Own(std::make_unique<TNoted>(&Owner, Freed))->SetName(N);
    EXPECT_EQ(Owner.FindComponent("second"), Owner.Components(1));
    EXPECT_EQ(Owner.FindComponent(""), nullptr);
    EXPECT_EQ(Owner.FindComponent("Third"), nullptr);
    EXPECT_EQ(Owner.Components(0)->Owner(), &Owner);
  }
  EXPECT_EQ(Freed, (std::vector<std::string>{"", "Second", "First"}));
}

TEST(TPersistent, AssigningWhatDoesNotFitNamesBothClasses) {
  TComponent C(nullptr);
  try {
    C.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& E) {
    EXPECT_EQ(E.Message(), "Cannot assign a nil to a TComponent");
  }
  TComponent D(nullptr);
  EXPECT_THROW(C.Assign(&D), EConvertError);
}

TEST(ReadWholeFile, ReadsEveryByteOfAFileLargerThanOneBlock) {
  const std::string Name = ::testing::TempDir() + "kest_whole_file.bin";
  std::vector<std::uint8_t> Bytes(200003);
  for (std::size_t I = 0; I < Bytes.size(); ++I) Bytes[I] = static_cast<std::uint8_t>(I * 7 + I / 251);
  {
    std::FILE* F = std::fopen(Name.c_str(), "wb");
    ASSERT_NE(F, nullptr);
    std::fwrite(Bytes.data(), 1, Bytes.size(), F);
    std::fclose(F);
  }
  const TFileBytes Read = ReadWholeFile(Name);
  EXPECT_TRUE(std::equal(Read.begin(), Read.end(), Bytes.begin(), Bytes.end()));
  {
    std::FILE* F = std::fopen(Name.c_str(), "wb");
    ASSERT_NE(F, nullptr);
    std::fclose(F);
  }
  EXPECT_TRUE(ReadWholeFile(Name).empty());
  std::remove(Name.c_str());
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
