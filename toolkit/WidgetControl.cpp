#include "toolkit/WidgetControl.h"

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QWidget>

#include "toolkit/Exceptions.h"
#include "toolkit/Forms.h"
#include "toolkit/QtPresenter_p.h"

KEST_ABSTRACT_CLASS_IMPL(TWidgetControl, TWinControl)

std::string GetShortHint(const std::string& Hint) { return Hint.substr(0, Hint.find('|')); }

bool HintsShown(const TControl* Control) {
  for (const TControl* C = Control; C; C = C->Parent()) {
    // A form keeps its own switch (the one its layout stores).
    if (const auto* F = dynamic_cast<const TCustomForm*>(C)) return F->ShowHint();
    if (!C->ParentShowHint()) return C->ShowHint();
  }
  return false;
}

void ApplyToolTip(TWinControl& Control) {
  if (!Control.HandleAllocated()) return;
  const std::string Tip = HintsShown(&Control) ? GetShortHint(Control.Hint()) : std::string();
  Control.Widget()->setToolTip(QString::fromStdString(Tip));
}

void ApplyFont(QWidget* Widget, const TFont& Font) {
  const QFont F = Font.ToQFont();
  if (!Widget->testAttribute(Qt::WA_SetFont) || Widget->font() != F) Widget->setFont(F);
}

void PublishFont(TPropList& L) {
  auto Item = [&L](const char* Name, auto Get, auto Set) {
    L.push_back({std::string("Font.") + Name,
                 [Get](const TComponent& O) -> std::optional<TPropValue> {
                   const TFont Default;
                   return Get(const_cast<TWinControl&>(static_cast<const TWinControl&>(O)).Font(), Default);
                 },
                 [Set](TComponent& O, const TPropValue& P) {
                   auto& C = static_cast<TWinControl&>(O);
                   Set(C.Font(), P);
                   C.Perform(CM_FONTCHANGED, 0, 0);
                 }});
  };
  auto IntOrNone = [](int V, int D) -> std::optional<TPropValue> {
    if (V == D) return std::nullopt;
    return TPropValue::OfInt(V);
  };
  Item("Charset", [IntOrNone](TFont& F, const TFont& D) { return IntOrNone(F.Charset, D.Charset); },
       [](TFont& F, const TPropValue& P) { F.Charset = static_cast<int>(P.Int); });
  Item("Color", [IntOrNone](TFont& F, const TFont& D) { return IntOrNone(F.Color, D.Color); },
       [](TFont& F, const TPropValue& P) { F.Color = static_cast<TColor>(P.Int); });
  Item("Height", [IntOrNone](TFont& F, const TFont& D) { return IntOrNone(F.Height, D.Height); },
       [](TFont& F, const TPropValue& P) { F.Height = static_cast<int>(P.Int); });
  Item("Name",
       [](TFont& F, const TFont& D) -> std::optional<TPropValue> {
         if (F.Name == D.Name) return std::nullopt;
         return TPropValue::OfString(F.Name);
       },
       [](TFont& F, const TPropValue& P) { F.Name = P.Str; });
  Item("Style",
       [](TFont& F, const TFont&) -> std::optional<TPropValue> {
         static const char* Names[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
         std::vector<std::string> Items;
         for (int I = 0; I < 4; ++I)
           if (F.Style.Contains(static_cast<TFontStyle>(I))) Items.push_back(Names[I]);
         if (Items.empty()) return std::nullopt;
         return TPropValue::OfSet(std::move(Items));
       },
       [](TFont& F, const TPropValue& P) {
         static const char* Names[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
         F.Style = TFontStyles{};
         for (const auto& S : P.Items)
           for (int I = 0; I < 4; ++I)
             if (S == Names[I]) F.Style.Include(static_cast<TFontStyle>(I));
       });
}

// ---------------------------------------------------------------------------
// The bridge between a hosted widget (and the widgets inside it, such as a
// combo box's line edit) and its control: focus and keys.

class TWidgetBridge : public QObject {
 public:
  explicit TWidgetBridge(TWidgetControl* Control) : FControl(Control) {}
  void Detach() { FControl = nullptr; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* E) override {
    if (!FControl) return false;
    switch (E->type()) {
      case QEvent::FocusIn: {
        TWidgetControl* C = FControl;
        RunGuarded([C] { C->FocusChanged(true); });
        return false;
      }
      case QEvent::KeyPress:
        return KeyPress(static_cast<QKeyEvent*>(E));
      case QEvent::KeyRelease: {
        auto* K = static_cast<QKeyEvent*>(E);
        if (K->isAutoRepeat()) return false;
        std::uint16_t Key = VirtualKeyFromQt(K->key(), K->modifiers());
        if (!Key) return false;
        TWidgetControl* C = FControl;
        const TShiftState S = ShiftFromQt(K->modifiers(), QApplication::mouseButtons());
        RunGuarded([&] { C->KeyUp(Key, S); });
        return Key == 0;
      }
      default:
        (void)Watched;
        return false;
    }
  }

 private:
  // The form's shortcuts first, then the control's key-down and key-press
  // events; a key that any of them takes (or sets to 0) never reaches Qt.
  bool KeyPress(QKeyEvent* K) {
    TWidgetControl* C = FControl;
    const TShiftState S = ShiftFromQt(K->modifiers(), QApplication::mouseButtons());
    std::uint16_t Key = VirtualKeyFromQt(K->key(), K->modifiers());
    bool Taken = false;
    RunGuarded([&] {
      if (Key) {
        if (C->PreviewShortCut(Key, S)) {
          Taken = true;
          return;
        }
        C->KeyDown(Key, S);
        if (Key == 0) {
          Taken = true;
          return;
        }
      }
      const QString T = K->text();
      if (T.size() == 1 && T[0].unicode() < 256 && T[0].unicode() != 0) {
        char Ch = static_cast<char>(T[0].unicode());
        C->KeyPress(Ch);
        Taken = Ch == 0;
      }
    });
    return Taken;
  }

  TWidgetControl* FControl;
};

// ---------------------------------------------------------------------------
// TWidgetControl

TWidgetControl::TWidgetControl(TComponent* AOwner) : TWinControl(AOwner) { SetColor(clBtnFace); }

TWidgetControl::~TWidgetControl() { DestroyHandle(); }

QWidget* TWidgetControl::Hosted() {
  HandleNeeded();
  return FHosted;
}

void TWidgetControl::CreateWnd() {
  TWinControl::CreateWnd();
  auto* Frame = static_cast<TWindowWidget*>(Widget());
  QWidget* Client = Frame->Client();
  FHosted = CreateHosted(Client);
  FBridge = new TWidgetBridge(this);
  FBridge->setParent(FHosted);
  // The client child passes the focus on and never takes a place in the tab chain.
  Client->setFocusPolicy(Qt::NoFocus);
  Client->setFocusProxy(FHosted);
  FHosted->setGeometry(0, 0, ClientWidth(), ClientHeight());
  FHosted->show();
  SyncHosted();
  BridgeChildren();
  ApplyToolTip(*this);
}

void TWidgetControl::Loaded() {
  TWinControl::Loaded();
  ApplyToolTip(*this);
}

void TWidgetControl::BridgeChildren() {
  if (!FHosted || !FBridge) return;
  FHosted->installEventFilter(FBridge);
  for (QWidget* W : FHosted->findChildren<QWidget*>()) W->installEventFilter(FBridge);
}

void TWidgetControl::DestroyWnd() {
  if (FBridge) FBridge->Detach();
  FBridge = nullptr;
  FHosted = nullptr;  // deleted with the client child
  TWinControl::DestroyWnd();
}

void TWidgetControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_SIZE && FHosted) FHosted->setGeometry(0, 0, ClientWidth(), ClientHeight());
  if (Message.Msg == CM_FONTCHANGED && FHosted) SyncHosted();
  TWinControl::WndProc(Message);
}

void TWidgetControl::PublishCommon(TPropList& L) {
  PublishAnchors(L);
  PublishEnabled(L);
  PublishParentShowHint(L);
  PublishShowHint(L);
  PublishVisible(L);
}
