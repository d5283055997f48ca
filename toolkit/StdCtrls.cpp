#include "toolkit/StdCtrls.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QIcon>
#include <QPixmap>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

#include "toolkit/Exceptions.h"

KEST_CLASS_IMPL(TLabel, TWidgetControl)
KEST_CLASS_IMPL(TComboBox, TWidgetControl)
KEST_CLASS_IMPL(TPanel, TCustomControl)
KEST_CLASS_IMPL(TSpeedButton, TWidgetControl)

namespace {

const std::vector<std::string> AlignmentNames = {"taLeftJustify", "taRightJustify", "taCenter"};
const std::vector<std::string> LayoutNames = {"tlTop", "tlCenter", "tlBottom"};
const std::vector<std::string> ComboStyleNames = {"csDropDown", "csSimple", "csDropDownList"};
const std::vector<std::string> BevelNames = {"bvNone", "bvLowered", "bvRaised", "bvSpace"};
const std::vector<std::string> BorderStyleNames = {"bsNone", "bsSingle"};

QColor ToQColor(TColor C) {
  const TColor R = ColorToRGB(C);
  return QColor(GetRValue(R), GetGValue(R), GetBValue(R));
}


}  // namespace

// ---------------------------------------------------------------------------
// TLabel

TLabel::TLabel(TComponent* AOwner) : TWidgetControl(AOwner) { SetBounds(0, 0, 65, 13); }

QLabel* TLabel::Label() { return static_cast<QLabel*>(Hosted()); }

QWidget* TLabel::CreateHosted(QWidget* Parent) {
  auto* L = new QLabel(Parent);
  L->setFocusPolicy(Qt::NoFocus);
  // Clicks go on to the window below, which raises the control's click event.
  L->setAttribute(Qt::WA_TransparentForMouseEvents);
  return L;
}

void TLabel::SyncHosted() {
  QLabel* L = Label();
  L->setText(QString::fromStdString(FCaption));
  ApplyFont(L, Font());
  QPalette P = L->palette();
  P.setColor(QPalette::WindowText, ToQColor(Font().Color));
  L->setPalette(P);
  Qt::Alignment A = FAlignment == taCenter ? Qt::AlignHCenter : (FAlignment == taRightJustify ? Qt::AlignRight : Qt::AlignLeft);
  A |= FLayout == tlCenter ? Qt::AlignVCenter : (FLayout == tlBottom ? Qt::AlignBottom : Qt::AlignTop);
  L->setAlignment(A);
}

void TLabel::SetCaption(const std::string& C) {
  if (FCaption == C) return;
  FCaption = C;
  AdjustBounds();
  Resync();
}

void TLabel::SetAutoSize(bool V) {
  FAutoSize = V;
  AdjustBounds();
}

void TLabel::SetAlignment(TAlignment A) { SetShown(FAlignment, A); }

void TLabel::SetLayout(TTextLayout L) { SetShown(FLayout, L); }

void TLabel::Loaded() {
  TWidgetControl::Loaded();
  AdjustBounds();
}

void TLabel::WndProc(TMessage& Message) {
  if (Message.Msg == CM_FONTCHANGED) AdjustBounds();
  TWidgetControl::WndProc(Message);
}

void TLabel::AdjustBounds() {
  if (!FAutoSize || ComponentState().Contains(csLoading)) return;
  const QFontMetrics M(Font().ToQFont());
  const int W = M.horizontalAdvance(QString::fromStdString(FCaption));
  const int H = M.height();
  // A label held by its right edge grows and shrinks to the left.
  const bool KeepRight = Anchors().Contains(akRight) && !Anchors().Contains(akLeft);
  const int L = KeepRight ? Left() + Width() - W : Left();
  SetBounds(L, Top(), W, H);
}

void TLabel::DefineProperties(TPropList& L) const {
  TWidgetControl::DefineProperties(L);
  L.push_back(prop::Enum<TLabel, TAlignment>("Alignment", &TLabel::Alignment, &TLabel::SetAlignment, AlignmentNames,
                                             taLeftJustify));
  PublishAnchors(L);
  L.push_back(prop::Bool<TLabel>("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize, true));
  L.push_back(prop::String<TLabel>("Caption", &TLabel::Caption, &TLabel::SetCaption, std::string()));
  PublishColor(L);
  PublishFont(L);
  L.push_back(prop::Enum<TLabel, TTextLayout>("Layout", &TLabel::Layout, &TLabel::SetLayout, LayoutNames, tlTop));
  PublishParentShowHint(L);
  PublishShowHint(L);
  PublishVisible(L);
  PublishMouseEvents(L);
}

// ---------------------------------------------------------------------------
// TComboBox

TComboBox::TComboBox(TComponent* AOwner) : TWidgetControl(AOwner) {
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 145, 21);
  FItems.OnChange = [this](TObject*) { ItemsChanged(); };
}

QComboBox* TComboBox::Box() { return static_cast<QComboBox*>(Hosted()); }

QWidget* TComboBox::CreateHosted(QWidget* Parent) {
  auto* B = new QComboBox(Parent);
  B->setFocusPolicy(TabStop() ? Qt::StrongFocus : Qt::ClickFocus);
  B->setInsertPolicy(QComboBox::NoInsert);
  B->setMaxVisibleItems(12);
  // A choice from the list: the text becomes the item, then the click event.
  QObject::connect(B, &QComboBox::activated, B, [this](int Index) {
    if (FSyncing) return;
    FItemIndex = Index;
    FText = Index >= 0 && Index < FItems.Count() ? FItems[Index] : std::string();
    RunGuarded([this] { Click(); });
  });
  QObject::connect(B, &QComboBox::editTextChanged, B, [this](const QString& T) {
    if (!FSyncing) FText = T.toStdString();
    FitEditText();
  });
  return B;
}

void TComboBox::SyncHosted() {
  QComboBox* B = Box();
  FSyncing = true;
  ApplyFont(B, Font());
  B->setEditable(FStyle != csDropDownList);
  B->clear();
  for (int I = 0; I < FItems.Count(); ++I) B->addItem(QString::fromStdString(FItems[I]));
  B->setCurrentIndex(FItemIndex);
  if (B->isEditable()) {
    if (!FAutoComplete) B->setCompleter(nullptr);
    B->setEditText(QString::fromStdString(FText));
  }
  FSyncing = false;
  // A switch to editable brings a new line edit, whose keys go through the bridge too.
  BridgeChildren();
  FitEditText();
}

void TComboBox::ItemsChanged() {
  if (HostedExists() && !FSyncing) SyncHosted();
}

void TComboBox::SetStyle(TComboBoxStyle S) { SetShown(FStyle, S); }

void TComboBox::SetAutoComplete(bool V) { SetShown(FAutoComplete, V); }

void TComboBox::SetItemIndex(int I) {
  if (I < -1 || I >= FItems.Count()) I = -1;
  FItemIndex = I;
  if (I >= 0) FText = FItems[I];
  Resync();
}

void TComboBox::SetText(const std::string& T) {
  FText = T;
  if (!HostedExists()) return;
  FSyncing = true;
  Box()->setEditText(QString::fromStdString(T));
  FSyncing = false;
  FitEditText();
}

void TComboBox::FitEditText() {
  QLineEdit* E = HostedExists() ? Box()->lineEdit() : nullptr;
  if (!E) return;
  // A text wider than the edit shows in a smaller font rather than cut off;
  // the edit keeps 2 pixels free on each side.
  QFont F = Font().ToQFont();
  const int Room = E->contentsRect().width() - 4;
  const QString T = E->text();
  for (int Px = QFontInfo(F).pixelSize(); Px > 7 && QFontMetrics(F).horizontalAdvance(T) > Room; --Px)
    F.setPixelSize(Px - 1);
  E->setFont(F);
}

void TComboBox::DefineProperties(TPropList& L) const {
  TWidgetControl::DefineProperties(L);
  L.push_back(prop::Enum<TComboBox, TComboBoxStyle>("Style", &TComboBox::Style, &TComboBox::SetStyle,
                                                    ComboStyleNames, csDropDown));
  L.push_back(prop::Bool<TComboBox>("AutoComplete", &TComboBox::AutoComplete, &TComboBox::SetAutoComplete, true));
  L.push_back(prop::Int<TComboBox, int>("ItemHeight", &TComboBox::ItemHeight, &TComboBox::SetItemHeight, 13));
  L.push_back({"Items.Strings",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 const auto& C = static_cast<const TComboBox&>(O);
                 if (C.Items().Count() == 0) return std::nullopt;
                 return TPropValue::OfList(C.Items().ToVector());
               },
               [](TComponent& O, const TPropValue& P) {
                 // The list changes once, when all its entries are in: the box
                 // takes them over in one pass, not once for every entry.
                 TStrings& Items = static_cast<TComboBox&>(O).Items();
                 {
                   struct TRestore {
                     TStrings& L;
                     TNotifyEvent Saved;
                     ~TRestore() { L.OnChange = std::move(Saved); }
                   } Quiet{Items, std::exchange(Items.OnChange, nullptr)};
                   Items.Clear();
                   for (const auto& S : P.Items) Items.Add(S);
                 }
                 if (Items.OnChange) Items.OnChange(&Items);
               }});
  L.push_back(prop::Int<TComboBox, int>("ItemIndex", &TComboBox::ItemIndex, &TComboBox::SetItemIndex, -1));
  L.push_back(prop::String<TComboBox>("Text", &TComboBox::Text, &TComboBox::SetText, std::string()));
  PublishCommon(L);
  PublishTabStop(L);
  L.push_back(prop::Event("OnClick", &TControl::OnClick));
  L.push_back(prop::Event("OnEnter", &TWinControl::OnEnter));
  L.push_back(prop::Event("OnExit", &TWinControl::OnExit));
  L.push_back(prop::Event("OnKeyDown", &TWinControl::OnKeyDown));
  L.push_back(prop::Event("OnKeyPress", &TWinControl::OnKeyPress));
}

// ---------------------------------------------------------------------------
// TPanel

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner) {
  SetColor(clBtnFace);
  SetBounds(0, 0, 185, 41);
}

void TPanel::CreateParams(TCreateParams& Params) {
  TCustomControl::CreateParams(Params);
  if (FBorderStyle == bsSingle) Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TPanel::SetCaption(const std::string& C) {
  if (FCaption == C) return;
  FCaption = C;
  Invalidate();
}

void TPanel::SetBevelOuter(TPanelBevel B) {
  FBevelOuter = B;
  Invalidate();
}

void TPanel::SetBevelInner(TPanelBevel B) {
  FBevelInner = B;
  Invalidate();
}

void TPanel::SetBorderStyle(TBorderStyle B) {
  if (FBorderStyle == B) return;
  FBorderStyle = B;
  RecreateWnd();
}

void TPanel::Paint() {
  const TRect R = ClientRect();
  Canvas().WithPainter([&](QPainter& P) {
    P.fillRect(QRect(0, 0, R.Width(), R.Height()), ToQColor(Color()));
    int Inset = 0;
    for (TPanelBevel B : {FBevelOuter, FBevelInner}) {
      if (B == bvLowered || B == bvRaised) {
        const QColor Light = ToQColor(clBtnHighlight), Dark = ToQColor(clBtnShadow);
        const QColor TopLeft = B == bvRaised ? Light : Dark, BottomRight = B == bvRaised ? Dark : Light;
        const int X0 = Inset, Y0 = Inset, X1 = R.Width() - 1 - Inset, Y1 = R.Height() - 1 - Inset;
        P.setPen(TopLeft);
        P.drawLine(X0, Y0, X1, Y0);
        P.drawLine(X0, Y0, X0, Y1);
        P.setPen(BottomRight);
        P.drawLine(X0, Y1, X1, Y1);
        P.drawLine(X1, Y0, X1, Y1);
      }
      if (B != bvNone) ++Inset;
    }
    if (!FCaption.empty()) {
      P.setFont(Font().ToQFont());
      P.setPen(ToQColor(Font().Color));
      P.drawText(QRect(0, 0, R.Width(), R.Height()), Qt::AlignCenter, QString::fromStdString(FCaption));
    }
  });
}

void TPanel::WndProc(TMessage& Message) {
  TCustomControl::WndProc(Message);
  if (Message.Msg == WM_SIZE) {
    // The caption stays centred: the whole panel is painted anew.
    Invalidate();
    if (OnResize) OnResize(this);
  }
}

void TPanel::DefineProperties(TPropList& L) const {
  TCustomControl::DefineProperties(L);
  PublishAnchors(L);
  L.push_back(
      prop::Enum<TPanel, TPanelBevel>("BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner, BevelNames, bvNone));
  L.push_back(
      prop::Enum<TPanel, TPanelBevel>("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter, BevelNames, bvRaised));
  L.push_back(prop::Enum<TPanel, TBorderStyle>("BorderStyle", &TPanel::BorderStyle, &TPanel::SetBorderStyle,
                                               BorderStyleNames, bsNone));
  L.push_back(prop::String<TPanel>("Caption", &TPanel::Caption, &TPanel::SetCaption, std::string()));
  L.push_back(prop::Int<TControl, TColor>("Color", &TControl::Color, &TControl::SetColor, clBtnFace));
  PublishFont(L);
  PublishEnabled(L);
  PublishParentShowHint(L);
  PublishShowHint(L);
  PublishVisible(L);
  PublishTabStop(L);
  L.push_back(prop::Event("OnResize", &TPanel::OnResize));
}

// ---------------------------------------------------------------------------
// TSpeedButton

TSpeedButton::TSpeedButton(TComponent* AOwner) : TWidgetControl(AOwner) { SetBounds(0, 0, 23, 22); }

QToolButton* TSpeedButton::Button() { return static_cast<QToolButton*>(Hosted()); }

QWidget* TSpeedButton::CreateHosted(QWidget* Parent) {
  auto* B = new QToolButton(Parent);
  // Buttons leave the focus where it is, so typed text waits in its box.
  B->setFocusPolicy(Qt::NoFocus);
  QObject::connect(B, &QToolButton::clicked, B, [this] { RunGuarded([this] { Click(); }); });
  return B;
}

void TSpeedButton::SyncHosted() {
  QToolButton* B = Button();
  B->setAutoRaise(FFlat);
  B->setEnabled(Enabled());
  ApplyFont(B, Font());
  if (!FGlyph.isNull()) {
    // On a high-density screen the glyph's pixels become whole blocks of the
    // screen's pixels, sharp, rather than smoothed by Qt's own enlargement.
    QIcon Icon(QPixmap::fromImage(FGlyph));
    const int N = std::max(1, static_cast<int>(std::lround(B->devicePixelRatioF())));
    if (N > 1) {
      QPixmap Large =
          QPixmap::fromImage(FGlyph.scaled(FGlyph.size() * N, Qt::IgnoreAspectRatio, Qt::FastTransformation));
      Large.setDevicePixelRatio(N);
      Icon.addPixmap(Large);
    }
    B->setIcon(Icon);
    B->setIconSize(FGlyph.size());
    B->setToolButtonStyle(Qt::ToolButtonIconOnly);
  } else {
    B->setText(QString::fromStdString(FCaption));
    B->setToolButtonStyle(Qt::ToolButtonTextOnly);
  }
}

void TSpeedButton::SetCaption(const std::string& C) { SetShown(FCaption, C); }

void TSpeedButton::SetGlyph(const QImage& G) { SetShown(FGlyph, G); }

void TSpeedButton::SetFlat(bool V) { SetShown(FFlat, V); }

void TSpeedButton::SetEnabled(bool V) {
  TWidgetControl::SetEnabled(V);
  Resync();
}

void TSpeedButton::DefineProperties(TPropList& L) const {
  TWidgetControl::DefineProperties(L);
  L.push_back(prop::String<TSpeedButton>("Caption", &TSpeedButton::Caption, &TSpeedButton::SetCaption, std::string()));
  L.push_back(prop::Bool<TSpeedButton>("Flat", &TSpeedButton::Flat, &TSpeedButton::SetFlat, true));
  PublishCommon(L);
  L.push_back(prop::Event("OnClick", &TControl::OnClick));
}

void RegisterStdCtrlsClasses() {
  for (const TMetaClass* C :
       {TLabel::StaticClass(), TComboBox::StaticClass(), TPanel::StaticClass(), TSpeedButton::StaticClass()})
    RegisterClass(C);
}
