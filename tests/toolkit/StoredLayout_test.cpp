#include "toolkit/StoredLayout.h"

#include <gtest/gtest.h>

#include <limits>

#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"

namespace {

enum TProbeMode : std::uint8_t { mdOne, mdTwo, mdThree };
enum TProbeFlag : std::uint8_t { fA, fB, fC };
using TProbeFlags = TSet<TProbeFlag>;

// A component with a published property of every value kind; it records the
// order in which stored values arrive and whether it was loading then.
class TLayoutProbe : public TComponent {
  KEST_CLASS(TLayoutProbe)
 public:
  explicit TLayoutProbe(TComponent* AOwner) : TComponent(AOwner) {}

  std::int64_t Count() const { return FCount; }
  void SetCount(std::int64_t V) { Store(FCount, V, "Count"); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V) { Store(FEnabled, V, "Enabled"); }
  double Ratio() const { return FRatio; }
  void SetRatio(double V) { Store(FRatio, V, "Ratio"); }
  std::string Text() const { return FText; }
  void SetText(const std::string& V) { Store(FText, V, "Text"); }
  TProbeMode Mode() const { return FMode; }
  void SetMode(TProbeMode V) { Store(FMode, V, "Mode"); }
  TProbeFlags Flags() const { return FFlags; }
  void SetFlags(TProbeFlags V) { Store(FFlags, V, "Flags"); }
  TLayoutProbe* Buddy() const { return FBuddy; }
  void SetBuddy(TLayoutProbe* V) { Store(FBuddy, V, "Buddy"); }

  std::vector<std::string> Lines;
  std::vector<std::uint8_t> Data;
  TNotifyEvent OnPing;
  std::vector<std::string> Log;
  int LoadedCalls = 0;

  void Loaded() override {
    TComponent::Loaded();
    ++LoadedCalls;
    Log.push_back("Loaded");
  }

 protected:
  void DefineProperties(TPropList& L) const override {
    TComponent::DefineProperties(L);
    L.push_back(prop::Int<TLayoutProbe, std::int64_t>("Count", &TLayoutProbe::Count, &TLayoutProbe::SetCount, 0));
    L.push_back(prop::Bool<TLayoutProbe>("Enabled", &TLayoutProbe::Enabled, &TLayoutProbe::SetEnabled, true));
    L.push_back(prop::Float<TLayoutProbe>("Ratio", &TLayoutProbe::Ratio, &TLayoutProbe::SetRatio, 1.0));
    L.push_back(prop::String<TLayoutProbe>("Text", &TLayoutProbe::Text, &TLayoutProbe::SetText, std::string()));
    L.push_back(prop::Enum<TLayoutProbe, TProbeMode>("Mode", &TLayoutProbe::Mode, &TLayoutProbe::SetMode,
                                                     {"mdOne", "mdTwo", "mdThree"}, mdOne));
    L.push_back(prop::Set<TLayoutProbe, TProbeFlag>("Flags", &TLayoutProbe::Flags, &TLayoutProbe::SetFlags,
                                                    {"fA", "fB", "fC"}, TProbeFlags{}));
    // Lists and binary data are always written, empty or not.
    L.push_back({"Lines.Strings",
                 [](const TComponent& O) -> std::optional<TPropValue> {
                   return TPropValue::OfList(static_cast<const TLayoutProbe&>(O).Lines);
                 },
                 [](TComponent& O, const TPropValue& P) {
                   auto& Me = static_cast<TLayoutProbe&>(O);
                   Me.Note("Lines");
                   Me.Lines = P.Items;
                 }});
    L.push_back({"Data",
                 [](const TComponent& O) -> std::optional<TPropValue> {
                   return TPropValue::OfBinary(static_cast<const TLayoutProbe&>(O).Data);
                 },
                 [](TComponent& O, const TPropValue& P) { static_cast<TLayoutProbe&>(O).Data = P.Bytes; }});
    L.push_back(prop::Reference<TLayoutProbe, TLayoutProbe>("Buddy", &TLayoutProbe::Buddy, &TLayoutProbe::SetBuddy));
    L.push_back(prop::Event("OnPing", &TLayoutProbe::OnPing));
  }

 private:
  template <class T>
  void Store(T& Field, const T& V, const char* What) {
    Note(What);
    Field = V;
  }
  void Note(const char* What) { Log.push_back(std::string(What) + (ComponentState().Contains(csLoading) ? "*" : "")); }

  std::int64_t FCount = 0;
  bool FEnabled = true;
  double FRatio = 1.0;
  std::string FText;
  TProbeMode FMode = mdOne;
  TProbeFlags FFlags;
  TLayoutProbe* FBuddy = nullptr;
};

KEST_CLASS_IMPL(TLayoutProbe, TComponent)

class StoredLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterClass(TLayoutProbe::StaticClass()); }
};

TLayoutProbe* Probe(const TComponent& Root, const std::string& Name) {
  return dynamic_cast<TLayoutProbe*>(Root.FindComponent(Name));
}

// The message of the EReadError that reading Text raises, or "" when none.
std::string ReadError(const std::string& Text) {
  TComponent Root(nullptr);
  try {
    ReadLayout(Root, Text);
  } catch (const EReadError& E) {
    return E.Message();
  }
  return "";
}

TEST_F(StoredLayout, WritesEveryValueKindInItsOwnNotation) {
  TComponent Root(nullptr);
  Root.SetName("Root");
  auto* P = Root.Own(std::make_unique<TLayoutProbe>(&Root));
  P->SetName("P1");
  P->SetCount(-7);
  P->SetEnabled(false);
  P->SetRatio(2);
  P->SetText("a\"b\\c\nd");
  P->SetMode(mdThree);
  P->SetFlags(TProbeFlags{fA, fC});
  P->Lines = {"x\\y", "", "q\""};
  P->Data = {0x00, 0xFF, 0x7F, 0x0A};
  auto* Q = Root.Own(std::make_unique<TLayoutProbe>(&Root));
  Q->SetName("P2");
  Q->SetRatio(0.1);
  P->SetBuddy(Q);
  EXPECT_EQ(WriteLayout(Root),
            "object Root: TComponent\n"
            "  object P1: TLayoutProbe\n"
            "    Count = -7\n"
            "    Enabled = False\n"
            "    Ratio = 2.0\n"
            "    Text = \"a\\\"b\\\\c\\nd\"\n"
            "    Mode = mdThree\n"
            "    Flags = [fA, fC]\n"
            "    Lines.Strings = (\"x\\\\y\", \"\", \"q\\\"\")\n"
            "    Data = {00FF7F0A}\n"
            "    Buddy = P2\n"
            "  end\n"
            "  object P2: TLayoutProbe\n"
            "    Ratio = 0.1\n"
            "    Lines.Strings = ()\n"
            "    Data = {}\n"
            "  end\n"
            "end\n");
}

TEST_F(StoredLayout, EveryValueSurvivesARoundTrip) {
  const struct {
    std::int64_t Count;
    double Ratio;
    std::string Text;
    TProbeMode Mode;
    TProbeFlags Flags;
    std::vector<std::string> Lines;
    std::vector<std::uint8_t> Data;
  } Cases[] = {
      {0, 1.0, "", mdOne, {}, {}, {}},
      {std::numeric_limits<std::int64_t>::min(), 0.1, "\\", mdTwo, {fA, fB, fC}, {"\\"}, {0}},
      {std::numeric_limits<std::int64_t>::max(), -2.5e-300, "back\\slash \"quoted\"\nnext", mdThree, {fB},
       {"", "\\\\", "\"", "a, b", "(x)"}, {0x12, 0xAB}},
      {42, 1e21, "a\\n is not a line break", mdOne, {fC}, {"\n", "tab\there"}, {}},
      {-1, 123456.789, "  blanks kept  ", mdTwo, {}, {"only"}, std::vector<std::uint8_t>(300, 0xEE)},
  };
  for (const auto& C : Cases) {
    TComponent Root(nullptr);
    Root.SetName("Form1");
    auto* P = Root.Own(std::make_unique<TLayoutProbe>(&Root));
    P->SetName("Probe1");
    P->SetCount(C.Count);
    P->SetRatio(C.Ratio);
    P->SetText(C.Text);
    P->SetMode(C.Mode);
    P->SetFlags(C.Flags);
    P->Lines = C.Lines;
    P->Data = C.Data;
    const std::string Text = WriteLayout(Root);

    TComponent Back(nullptr);
    ReadLayout(Back, Text);
    const TLayoutProbe* B = Probe(Back, "Probe1");
    ASSERT_NE(B, nullptr) << Text;
    EXPECT_EQ(Back.Name(), "Form1");
    EXPECT_EQ(B->Count(), C.Count) << Text;
    EXPECT_EQ(B->Ratio(), C.Ratio) << Text;
    EXPECT_EQ(B->Text(), C.Text) << Text;
    EXPECT_EQ(B->Mode(), C.Mode) << Text;
    EXPECT_EQ(B->Flags(), C.Flags) << Text;
    EXPECT_EQ(B->Lines, C.Lines) << Text;
    EXPECT_EQ(B->Data, C.Data) << Text;
    EXPECT_EQ(WriteLayout(Back), Text);
  }
}

TEST_F(StoredLayout, NumbersInEveryNotationTheReaderAccepts) {
  const struct {
    const char* Value;
    double Ratio;
  } Cases[] = {{"3", 3.0}, {"+3", 3.0}, {"-0.5", -0.5}, {"1e3", 1000.0}, {"2.5E-2", 0.025}, {"1.5e+2", 150.0}};
  for (const auto& C : Cases) {
    TComponent Root(nullptr);
    ReadLayout(Root, std::string("object R: TComponent\n object P: TLayoutProbe\n  Ratio = ") + C.Value + "\n end\nend\n");
    EXPECT_DOUBLE_EQ(Probe(Root, "P")->Ratio(), C.Ratio) << C.Value;
  }
  TComponent Root(nullptr);
  ReadLayout(Root, "object R: TComponent\n object P: TLayoutProbe\n  Count = -9000000000\n end\nend\n");
  EXPECT_EQ(Probe(Root, "P")->Count(), -9000000000);
}

TEST_F(StoredLayout, BadLinesGiveTheLineAndTheReason) {
  const std::string Head = "object R: TComponent\n  object P: TLayoutProbe\n";
  const struct {
    std::string Text;
    const char* Message;
  } Cases[] = {
      {"", "Invalid layout at line 1: empty layout"},
      {"\n  \n", "Invalid layout at line 1: empty layout"},
      {"objekt R: TComponent\nend\n", "Invalid layout at line 1: 'object' expected"},
      {"\n\nobject R TComponent\nend\n", "Invalid layout at line 3: 'name: class' expected"},
      {Head + "    Count\n  end\nend\n", "Invalid layout at line 3: 'name = value' expected"},
      {Head + "    Count =\n  end\nend\n", "Invalid layout at line 3: missing value"},
      {Head + "    Count = 12x\n  end\nend\n", "Invalid layout at line 3: bad integer"},
      {Head + "    Count = 0x10\n  end\nend\n", "Invalid layout at line 3: bad integer"},
      {Head + "    Count = 99999999999999999999\n  end\nend\n", "Invalid layout at line 3: bad integer"},
      {Head + "    Ratio = 1.5.2\n  end\nend\n", "Invalid layout at line 3: bad number"},
      {Head + "    Ratio = 1e999\n  end\nend\n", "Invalid layout at line 3: bad number"},
      {Head + "    Count = 1 2\n  end\nend\n", "Invalid layout at line 3: unexpected text after the value"},
      {Head + "    Text = \"abc\n  end\nend\n", "Invalid layout at line 3: unterminated string"},
      {Head + "    Text = \"abc\\\n  end\nend\n", "Invalid layout at line 3: unterminated string"},
      {Head + "    Flags = [fA, fB\n  end\nend\n", "Invalid layout at line 3: unterminated list"},
      {Head + "    Flags = [fA fB]\n  end\nend\n", "Invalid layout at line 3: comma expected"},
      {Head + "    Flags = [fA, ]\n  end\nend\n", "Invalid layout at line 3: identifier expected"},
      {Head + "    Lines.Strings = (a)\n  end\nend\n", "Invalid layout at line 3: string expected"},
      {Head + "    Data = {0G}\n  end\nend\n", "Invalid layout at line 3: hexadecimal digit expected"},
      {Head + "    Data = {00112G}\n  end\nend\n", "Invalid layout at line 3: hexadecimal digit expected"},
      {Head + "    Data = {012}\n  end\nend\n", "Invalid layout at line 3: hexadecimal digit expected"},
      {Head + "    Data = {012\n  end\nend\n", "Invalid layout at line 3: odd number of hexadecimal digits"},
      {Head + "    Data = {0123\n  end\nend\n", "Invalid layout at line 3: unterminated binary data"},
      // Blank lines and carriage returns count as lines and blanks.
      {"object R: TComponent\r\n\r\n  object P: TLayoutProbe\r\n    Count = 1 2\r\n  end\r\nend\r\n",
       "Invalid layout at line 4: unexpected text after the value"},
      {Head + "  end\n", "Invalid layout at line 4: 'end' expected"},
      {"object R: TComponent\n\n  object Q: TNope\n  end\nend\n", "Invalid layout at line 3: class TNope not found"},
      // An unknown property is reported at its own line, not at its object's.
      {Head + "    Count = 1\n    Colour = 3\n  end\nend\n",
       "Invalid layout at line 4: property Colour does not exist in TLayoutProbe"},
  };
  for (const auto& C : Cases) EXPECT_EQ(ReadError(C.Text), C.Message) << C.Text;
}

TEST_F(StoredLayout, DeepNestingIsRefusedBeforeItExhaustsTheStack) {
  std::string Deep;
  for (int I = 0; I < 5000; ++I) Deep += "object C" + std::to_string(I) + ": TLayoutProbe\n";
  EXPECT_EQ(ReadError("object R: TComponent\n" + Deep), "Invalid layout at line 101: objects nested too deeply");
  // A hundred levels are read.
  std::string Ok = "object R: TComponent\n";
  for (int I = 1; I < 100; ++I) Ok += "object C" + std::to_string(I) + ": TLayoutProbe\n";
  for (int I = 0; I < 100; ++I) Ok += "end\n";
  EXPECT_EQ(ReadError(Ok), "");
}

TEST_F(StoredLayout, PropertiesArriveInPublishedOrderWhileLoadingThenLoadedRunsOnce) {
  TComponent Root(nullptr);
  ReadLayout(Root,
             "object R: TComponent\n"
             "  object P: TLayoutProbe\n"
             "    Lines.Strings = (\"a\")\n"
             "    Mode = mdTwo\n"
             "    Count = 5\n"
             "    Buddy = Q\n"
             "  end\n"
             "  object Q: TLayoutProbe\n"
             "  end\n"
             "end\n");
  const TLayoutProbe* P = Probe(Root, "P");
  ASSERT_NE(P, nullptr);
  EXPECT_EQ(P->Log, (std::vector<std::string>{"Count*", "Mode*", "Lines*", "Buddy*", "Loaded"}));
  // A reference to a component named further down is resolved: all are created first.
  EXPECT_EQ(P->Buddy(), Probe(Root, "Q"));
  EXPECT_EQ(Probe(Root, "Q")->LoadedCalls, 1);
  EXPECT_FALSE(P->ComponentState().Contains(csLoading));
  EXPECT_FALSE(Root.ComponentState().Contains(csLoading));
}

TEST_F(StoredLayout, ExistingComponentsAreReusedByNameWhateverTheCase) {
  TComponent Root(nullptr);
  auto* Mine = Root.Own(std::make_unique<TLayoutProbe>(&Root));
  Mine->SetName("Probe1");
  ReadLayout(Root, "object R: TComponent\n  object PROBE1: TLayoutProbe\n    Count = 3\n  end\nend\n");
  EXPECT_EQ(Root.ComponentCount(), 1);
  EXPECT_EQ(Mine->Count(), 3);
}

TEST_F(StoredLayout, EventsBindToTheRootsHandlersByName) {
  TComponent Root(nullptr);
  int Pings = 0;
  Root.RegisterMethod("Pinged", TNotifyEvent([&](TObject*) { ++Pings; }));
  ReadLayout(Root,
             "object R: TComponent\n"
             "  object P: TLayoutProbe\n    OnPing = Pinged\n  end\n"
             "  object Q: TLayoutProbe\n    OnPing = NoSuchHandler\n  end\n"
             "end\n");
  TLayoutProbe* P = Probe(Root, "P");
  ASSERT_TRUE(P->OnPing);
  P->OnPing(P);
  EXPECT_EQ(Pings, 1);
  EXPECT_FALSE(Probe(Root, "Q")->OnPing);
  // The binding is written back by name; the unbound one is left out.
  const std::string Text = WriteLayout(Root);
  EXPECT_NE(Text.find("    OnPing = Pinged\n"), std::string::npos);
  EXPECT_EQ(Text.find("NoSuchHandler"), std::string::npos);
}

TEST_F(StoredLayout, ControlsAreNestedInTheirParentsAndOtherComponentsInTheRoot) {
  TComponent Root(nullptr);
  Root.SetName("Root");
  auto* Outer = Root.Own(std::make_unique<TWinControl>(&Root));
  Outer->SetName("Outer");
  auto* Probe1 = Root.Own(std::make_unique<TLayoutProbe>(&Root));
  Probe1->SetName("Probe1");
  Probe1->Lines = {"k"};
  auto* Inner = Root.Own(std::make_unique<TWinControl>(&Root));
  Inner->SetName("Inner");
  Inner->SetParent(Outer);
  Inner->SetBounds(3, 4, 50, 60);
  RegisterClass(TWinControl::StaticClass());
  const std::string Text = WriteLayout(Root);
  EXPECT_EQ(Text,
            "object Root: TComponent\n"
            "  object Outer: TWinControl\n"
            "    Left = 0\n    Top = 0\n    Width = 0\n    Height = 0\n"
            "    object Inner: TWinControl\n"
            "      Left = 3\n      Top = 4\n      Width = 50\n      Height = 60\n"
            "    end\n"
            "  end\n"
            "  object Probe1: TLayoutProbe\n"
            "    Lines.Strings = (\"k\")\n"
            "    Data = {}\n"
            "  end\n"
            "end\n");
  TComponent Back(nullptr);
  ReadLayout(Back, Text);
  auto* In = dynamic_cast<TWinControl*>(Back.FindComponent("Inner"));
  ASSERT_NE(In, nullptr);
  EXPECT_EQ(In->Parent(), Back.FindComponent("Outer"));
  EXPECT_EQ(In->BoundsRect(), (TRect{3, 4, 53, 64}));
  EXPECT_EQ(In->Owner(), &Back);
  EXPECT_EQ(WriteLayout(Back), Text);
}

}  // namespace
