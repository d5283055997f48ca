#include "toolkit/ComCtrls.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <QPainter>
#include <QToolButton>

#include "toolkit/ImgList.h"

KEST_CLASS_IMPL(TToolBar, TCustomControl)
KEST_CLASS_IMPL(TToolButton, TSpeedButton)
KEST_CLASS_IMPL(TStatusBar, TCustomControl)

namespace {

const std::vector<std::string> ButtonStyleNames = {"tbsButton", "tbsCheck", "tbsDropDown", "tbsSeparator",
                                                   "tbsDivider"};

QColor ToQColor(TColor C) {
  const TColor R = ColorToRGB(C);
  return QColor(GetRValue(R), GetGValue(R), GetBValue(R));
}

bool IsSeparator(TToolButtonStyle S) { return S == tbsSeparator || S == tbsDivider; }

}  // namespace

// ---------------------------------------------------------------------------
// TToolBar

TToolBar::TToolBar(TComponent* AOwner) : TCustomControl(AOwner) {
  SetColor(clBtnFace);
  SetBounds(0, 0, 150, 29);
}

void TToolBar::SetButtonWidth(int V) {
  FButtonWidth = V;
  ArrangeButtons();
}

void TToolBar::SetButtonHeight(int V) {
  FButtonHeight = V;
  ArrangeButtons();
}

void TToolBar::SetIndent(int V) {
  FIndent = V;
  ArrangeButtons();
}

void TToolBar::SetImages(TImageList* I) {
  FImages = I;
  for (int C = 0; C < ControlCount(); ++C)
    if (auto* B = dynamic_cast<TToolButton*>(Controls(C))) B->UpdateImage();
}

void TToolBar::Loaded() {
  TCustomControl::Loaded();
  ArrangeButtons();
  // The image list may have received its images after the buttons their indices.
  SetImages(FImages);
}

void TToolBar::ArrangeButtons() {
  if (ComponentState().Contains(csLoading)) return;
  std::vector<TControl*> Items;
  for (int I = 0; I < ControlCount(); ++I) Items.push_back(Controls(I));
  std::stable_sort(Items.begin(), Items.end(), [](TControl* A, TControl* B) { return A->Left() < B->Left(); });
  int X = FIndent;
  for (TControl* C : Items) {
    if (!C->Visible()) continue;
    int W = C->Width(), H = C->Height();
    if (auto* B = dynamic_cast<TToolButton*>(C)) {
      H = ClampExtent(FButtonHeight, 0);
      if (!IsSeparator(B->Style())) W = FButtonWidth;
    }
    C->SetBounds(X, std::max(0, (Height() - H) / 2), W, H);
    X = C->Left() + C->Width();
  }
}

void TToolBar::Paint() {
  Canvas().Brush().Color = Color();
  Canvas().FillRect(ClientRect());
}

void TToolBar::DefineProperties(TPropList& L) const {
  TCustomControl::DefineProperties(L);
  PublishAlign(L);
  L.push_back(prop::Int<TToolBar, int>("BorderWidth", &TToolBar::BorderWidth, &TToolBar::SetBorderWidth, 0));
  L.push_back(prop::Int<TToolBar, int>("ButtonHeight", &TToolBar::ButtonHeight, &TToolBar::SetButtonHeight, 22));
  L.push_back(prop::Int<TToolBar, int>("ButtonWidth", &TToolBar::ButtonWidth, &TToolBar::SetButtonWidth, 23));
  L.push_back(prop::Int<TControl, TColor>("Color", &TControl::Color, &TControl::SetColor, clBtnFace));
  L.push_back(prop::Bool<TToolBar>("Flat", &TToolBar::Flat, &TToolBar::SetFlat, false));
  L.push_back(prop::Reference<TToolBar, TImageList>("Images", &TToolBar::Images, &TToolBar::SetImages));
  L.push_back(prop::Int<TToolBar, int>("Indent", &TToolBar::Indent, &TToolBar::SetIndent, 0));
  PublishParentShowHint(L);
  PublishShowHint(L);
  L.push_back(prop::Bool<TToolBar>("Wrapable", &TToolBar::Wrapable, &TToolBar::SetWrapable, true));
}

// ---------------------------------------------------------------------------
// TToolButton

TToolButton::TToolButton(TComponent* AOwner) : TSpeedButton(AOwner) {}

TToolButton::~TToolButton() { SetAction(nullptr); }

void TToolButton::SetStyle(TToolButtonStyle S) { SetShown(FStyle, S); }

void TToolButton::SetImageIndex(int V) {
  FImageIndex = V;
  UpdateImage();
}

void TToolButton::UpdateImage() {
  auto* Bar = dynamic_cast<TToolBar*>(Parent());
  const TImageList* Images = Bar ? Bar->Images() : nullptr;
  SetGlyph(Images ? Images->Image(FImageIndex) : QImage());
}

std::vector<TToolButton*> TToolButton::GroupMembers() {
  std::vector<TToolButton*> Members;
  if (!FGrouped || FStyle != tbsCheck || !Parent()) return Members;
  std::vector<TToolButton*> Row;
  for (int I = 0; I < Parent()->ControlCount(); ++I)
    if (auto* B = dynamic_cast<TToolButton*>(Parent()->Controls(I))) Row.push_back(B);
  std::stable_sort(Row.begin(), Row.end(), [](TToolButton* A, TToolButton* B) { return A->Left() < B->Left(); });
  const auto Self = std::find(Row.begin(), Row.end(), this);
  auto InGroup = [](TToolButton* B) { return B->FGrouped && B->FStyle == tbsCheck; };
  auto First = Self;
  while (First != Row.begin() && InGroup(*(First - 1))) --First;
  for (auto It = First; It != Row.end() && InGroup(*It); ++It) Members.push_back(*It);
  return Members;
}

void TToolButton::SetDown(bool V) {
  if (FDown == V) return;
  FDown = V;
  if (V)
    for (TToolButton* B : GroupMembers())
      if (B != this && B->FDown) {
        B->FDown = false;
        B->Resync();
      }
  Resync();
}

void TToolButton::Click() {
  if (FStyle == tbsCheck) {
    if (!FDown)
      SetDown(true);
    else if (!FGrouped || FAllowAllUp)
      SetDown(false);
    else if (HostedExists())
      SyncHosted();  // the last pressed button of its group stays down
  }
  if (FAction)
    FAction->Execute();
  else
    TSpeedButton::Click();
}

void TToolButton::SetAction(TAction* A) {
  if (FAction == A) return;
  if (FAction) FAction->RemoveClient(this);
  FAction = A;
  if (A) {
    A->AddClient(this);
    ActionChanged(A);
  }
}

void TToolButton::ActionChanged(TAction* A) {
  SetHint(A->Hint());
  SetEnabled(A->Enabled());
  FImageIndex = A->ImageIndex();
  UpdateImage();
  ApplyToolTip(*this);
}

void TToolButton::ActionFreed(TAction*) { FAction = nullptr; }

void TToolButton::SyncHosted() {
  TSpeedButton::SyncHosted();
  QToolButton* B = Button();
  B->setVisible(!IsSeparator(FStyle));
  B->setCheckable(FStyle == tbsCheck);
  B->setChecked(FDown);
}

void TToolButton::PaintWindow() {
  if (FStyle != tbsDivider) return;
  // The divider: an etched vertical line in the middle.
  QImage& S = MutableSurface();
  QPainter P(&S);
  const int X = S.width() / 2 - 1;
  P.setPen(ToQColor(clBtnShadow));
  P.drawLine(X, 1, X, S.height() - 2);
  P.setPen(ToQColor(clBtnHighlight));
  P.drawLine(X + 1, 1, X + 1, S.height() - 2);
}

void TToolButton::DefineProperties(TPropList& L) const {
  TSpeedButton::DefineProperties(L);
  L.push_back(prop::Reference<TToolButton, TAction>("Action", &TToolButton::Action, &TToolButton::SetAction));
  L.push_back(prop::Bool<TToolButton>("AllowAllUp", &TToolButton::AllowAllUp, &TToolButton::SetAllowAllUp, false));
  L.push_back(prop::Bool<TToolButton>("Down", &TToolButton::Down, &TToolButton::SetDown, false));
  L.push_back(prop::Bool<TToolButton>("Grouped", &TToolButton::Grouped, &TToolButton::SetGrouped, false));
  L.push_back(prop::Int<TToolButton, int>("ImageIndex", &TToolButton::ImageIndex, &TToolButton::SetImageIndex, -1));
  L.push_back(prop::Enum<TToolButton, TToolButtonStyle>("Style", &TToolButton::Style, &TToolButton::SetStyle,
                                                        ButtonStyleNames, tbsButton));
}

// ---------------------------------------------------------------------------
// TStatusBar

TStatusBar::TStatusBar(TComponent* AOwner) : TCustomControl(AOwner) {
  SetColor(clBtnFace);
  SetBounds(0, 0, 200, 19);
}

void TStatusBar::SetPanelCount(int N) {
  FPanels.resize(static_cast<std::size_t>(std::max(0, N)));
  Invalidate();
}

void TStatusBar::SetPanelText(int I, const std::string& Text) {
  if (I < 0 || I >= PanelCount() || FPanels[static_cast<std::size_t>(I)].Text == Text) return;
  FPanels[static_cast<std::size_t>(I)].Text = Text;
  Invalidate();
}

void TStatusBar::SetPanelWidth(int I, int Width) {
  if (I < 0 || I >= PanelCount()) return;
  FPanels[static_cast<std::size_t>(I)].Width = ClampExtent(Width);
  Invalidate();
}

TRect TStatusBar::LayoutPanelRect(int I) {
  HandleNeeded();
  const TPoint C = LayoutClientSize();
  std::int64_t X = 0;
  for (int P = 0; P < I; ++P) X += FPanels[static_cast<std::size_t>(P)].Width + 2;
  const std::int64_t W = I == PanelCount() - 1 ? C.X - X : FPanels[static_cast<std::size_t>(I)].Width;
  return Bounds(ClampExtent(X), 2, ClampExtent(W, 0), std::max(0, C.Y - 2));
}

TRect TStatusBar::PanelRect(int I) {
  const TRect R = LayoutPanelRect(I);
  const double Ratio = ClientPixelRatio();
  if (Ratio == 1) return R;
  auto Scale = [Ratio](std::int32_t V) { return ClampExtent(std::llround(V * Ratio)); };
  return TRect{Scale(R.Left), Scale(R.Top), Scale(R.Right), Scale(R.Bottom)};
}

void TStatusBar::Paint() {
  Canvas().WithPainter([this](QPainter& P) {
    // Drawn in the units of the bounds, at the density of the client pixels.
    P.scale(ClientPixelRatio(), ClientPixelRatio());
    const TPoint C = LayoutClientSize();
    P.fillRect(QRect(0, 0, C.X, C.Y), ToQColor(Color()));
    P.setFont(Font().ToQFont());
    for (int I = 0; I < PanelCount(); ++I) {
      const TRect R = LayoutPanelRect(I);
      if (R.Width() <= 0) continue;
      // A thin sunken frame around each panel's text.
      P.setPen(ToQColor(clBtnShadow));
      P.drawLine(R.Left, R.Top, R.Right - 1, R.Top);
      P.drawLine(R.Left, R.Top, R.Left, R.Bottom - 1);
      P.setPen(ToQColor(clBtnHighlight));
      P.drawLine(R.Left, R.Bottom - 1, R.Right - 1, R.Bottom - 1);
      P.drawLine(R.Right - 1, R.Top, R.Right - 1, R.Bottom - 1);
      P.setPen(ToQColor(Font().Color));
      P.drawText(QRect(R.Left + 3, R.Top + 1, R.Width() - 6, R.Height() - 2), Qt::AlignLeft | Qt::AlignVCenter,
                 QString::fromStdString(FPanels[static_cast<std::size_t>(I)].Text));
    }
  });
}

void TStatusBar::WndProc(TMessage& Message) {
  TCustomControl::WndProc(Message);
  // The last panel follows the right edge.
  if (Message.Msg == WM_SIZE) Invalidate();
}

void TStatusBar::DefineProperties(TPropList& L) const {
  TCustomControl::DefineProperties(L);
  PublishAnchors(L);
  L.push_back({"Panels.Texts",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 const auto& S = static_cast<const TStatusBar&>(O);
                 if (S.PanelCount() == 0) return std::nullopt;
                 std::vector<std::string> T;
                 for (const auto& P : S.FPanels) T.push_back(P.Text);
                 return TPropValue::OfList(std::move(T));
               },
               [](TComponent& O, const TPropValue& P) {
                 auto& S = static_cast<TStatusBar&>(O);
                 S.SetPanelCount(static_cast<int>(P.Items.size()));
                 for (std::size_t I = 0; I < P.Items.size(); ++I) S.SetPanelText(static_cast<int>(I), P.Items[I]);
               }});
  // Widths as decimal texts, one per panel.
  L.push_back({"Panels.Widths",
               [](const TComponent& O) -> std::optional<TPropValue> {
                 const auto& S = static_cast<const TStatusBar&>(O);
                 if (S.PanelCount() == 0) return std::nullopt;
                 std::vector<std::string> W;
                 for (const auto& P : S.FPanels) W.push_back(std::to_string(P.Width));
                 return TPropValue::OfList(std::move(W));
               },
               [](TComponent& O, const TPropValue& P) {
                 auto& S = static_cast<TStatusBar&>(O);
                 if (S.PanelCount() < static_cast<int>(P.Items.size())) S.SetPanelCount(static_cast<int>(P.Items.size()));
                 for (std::size_t I = 0; I < P.Items.size(); ++I) {
                   // A text that is no number in range gives width 0.
                   int Width = 0;
                   const std::string& T = P.Items[I];
                   std::from_chars(T.data(), T.data() + T.size(), Width);
                   S.SetPanelWidth(static_cast<int>(I), Width);
                 }
               }});
  L.push_back(prop::Bool<TStatusBar>("SizeGrip", &TStatusBar::SizeGrip, &TStatusBar::SetSizeGrip, true));
  PublishFont(L);
}

void RegisterComCtrlsClasses() {
  for (const TMetaClass* C : {TToolBar::StaticClass(), TToolButton::StaticClass(), TStatusBar::StaticClass()})
    RegisterClass(C);
}
