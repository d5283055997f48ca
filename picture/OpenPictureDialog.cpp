#include "picture/OpenPictureDialog.h"

#include <algorithm>
#include <filesystem>

#include <QPainter>

#include "picture/FileFormats.h"
#include "toolkit/Forms.h"
#include "toolkit/SysUtils.h"

KEST_ABSTRACT_CLASS_IMPL(TPictureBox, TCustomControl)
KEST_CLASS_IMPL(TSilentPaintPanel, TPanel)
KEST_CLASS_IMPL(TOpenPictureDialog, TOpenDialog)

TRect FitPictureRect(std::int32_t W, std::int32_t H, std::int32_t CW, std::int32_t CH) {
  if (W == 0 || H == 0) return TRect{0, 0, CW, CH};
  const double A = static_cast<double>(W) / H;
  std::int32_t FW, FH;
  if (W > H) {
    FW = CW;
    FH = static_cast<std::int32_t>(CW / A);
    if (FH > CH) {
      FH = CH;
      FW = static_cast<std::int32_t>(A * CH);
    }
  } else {
    FH = CH;
    FW = static_cast<std::int32_t>(A * CH);
    if (FW > CW) {
      FW = CW;
      FH = static_cast<std::int32_t>(CW / A);
    }
  }
  return Bounds((CW - FW) / 2, (CH - FH) / 2, FW, FH);
}

std::string BuildFormatFilter() {
  struct TGroup {
    TGraphicClass Class;
    std::string Description, Patterns;
  };
  std::vector<TGroup> Groups;
  std::string All;
  for (const TFileFormat& F : TFileFormatsList::Instance().Entries()) {
    if (F.Extension.empty()) continue;
    auto G = std::find_if(Groups.begin(), Groups.end(), [&F](const TGroup& X) { return X.Class == F.GraphicClass; });
    if (G == Groups.end()) {
      std::string D = F.Description;
      if (const auto At = D.find(" Image File"); At != std::string::npos) D.replace(At, 11, " image");
      G = Groups.insert(Groups.end(), {F.GraphicClass, D, {}});
    }
    const std::string Pattern = "*." + F.Extension;
    G->Patterns += (G->Patterns.empty() ? "" : ";") + Pattern;
    All += (All.empty() ? "" : ";") + Pattern;
  }
  std::string Filter = Format("All pictures (%s)|%0:s", {All});
  for (const TGroup& G : Groups) Filter += Format("|%s (%s)|%1:s", {G.Description, G.Patterns});
  return Filter + "|All files (*)|*";
}

// ---------------------------------------------------------------------------
// TPictureBox

TPictureBox::TPictureBox(TComponent* AOwner, TPicture* Picture) : TCustomControl(AOwner), FPicture(Picture) {
  SetColor(clBtnFace);
}

void TPictureBox::FitIntoParent(int Margin) {
  if (!Parent()) return;
  const bool Show = FPicture->Graphic() && !FPicture->Graphic()->Empty();
  SetVisible(Show);
  if (!Show) return;
  const int CW = std::max(0, Parent()->ClientWidth() - 2 * Margin);
  const int CH = std::max(0, Parent()->ClientHeight() - 2 * Margin);
  const TRect R = FitPictureRect(FPicture->Width(), FPicture->Height(), CW, CH);
  SetBounds(R.Left + Margin, R.Top + Margin, R.Width(), R.Height());
  Invalidate();
}

void TPictureBox::Paint() {
  Canvas().Brush().Color = Color();
  Canvas().FillRect(ClientRect());
  try {
    StretchDrawGraphic(Canvas(), ClientRect(), FPicture->Graphic());
  } catch (const std::exception&) {
    if (OnDrawError) OnDrawError();
  }
}

// ---------------------------------------------------------------------------
// The "Preview" window: the picture as large as the screen allows, closed by Esc.

namespace {

class TPreviewForm : public TForm {
 public:
  using TForm::TForm;
  bool IsShortCut(std::uint16_t Key, TShiftState Shift) override {
    if (Key == VK_ESCAPE && Shift.Empty()) {
      Close();
      return true;
    }
    return TForm::IsShortCut(Key, Shift);
  }
};

// A magnifying glass for the preview button.
QImage MagnifierGlyph() {
  QImage G(16, 16, QImage::Format_ARGB32_Premultiplied);
  G.fill(Qt::transparent);
  QPainter P(&G);
  P.setRenderHint(QPainter::Antialiasing);
  P.setPen(QPen(QColor(40, 70, 120), 1.6));
  P.setBrush(QColor(200, 225, 250));
  P.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  P.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(QPointF(10.5, 10.5), QPointF(14, 14));
  return G;
}

}  // namespace

// ---------------------------------------------------------------------------
// TOpenPictureDialog

TOpenPictureDialog::TOpenPictureDialog(TComponent* AOwner)
    : TOpenDialog(AOwner), FPicture(std::make_unique<TPicture>()) {
  SetFilter(TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass()));

  FPicturePanel = std::make_unique<TPanel>(nullptr);
  FPicturePanel->SetName("PicturePanel");
  FPicturePanel->SetBevelOuter(bvNone);
  FPicturePanel->SetBounds(0, 0, 220, 300);

  FPictureLabel = std::make_unique<TLabel>(nullptr);
  FPictureLabel->SetName("PictureLabel");
  FPictureLabel->SetAutoSize(false);
  FPictureLabel->SetParent(FPicturePanel.get());
  FPictureLabel->SetBounds(4, 2, 188, 22);
  FPictureLabel->SetLayout(tlCenter);
  FPictureLabel->SetAnchors(TAnchors{akLeft, akTop, akRight});

  FPaintPanel = std::make_unique<TSilentPaintPanel>(nullptr);
  FPaintPanel->SetName("PaintPanel");
  FPaintPanel->SetParent(FPicturePanel.get());
  FPaintPanel->SetBevelOuter(bvNone);
  FPaintPanel->SetBorderStyle(bsSingle);
  FPaintPanel->SetBounds(0, 28, 220, 272);
  FPaintPanel->SetAnchors(TAnchors{akLeft, akTop, akRight, akBottom});

  FPreviewButton = std::make_unique<TSpeedButton>(nullptr);
  FPreviewButton->SetName("PreviewButton");
  FPreviewButton->SetParent(FPicturePanel.get());
  // Its right edge 2 pixels inside the paint panel's.
  FPreviewButton->SetBounds(FPaintPanel->Left() + FPaintPanel->Width() - 2 - 23, 2, 23, 22);
  FPreviewButton->SetAnchors(TAnchors{akTop, akRight});
  FPreviewButton->SetHint("Preview");
  FPreviewButton->SetShowHint(true);
  FPreviewButton->SetGlyph(MagnifierGlyph());
  FPreviewButton->SetEnabled(false);
  FPreviewButton->OnClick = [this](TObject*) { ShowPreview(); };

  FPaintBox = std::make_unique<TPictureBox>(nullptr, FPicture.get());
  FPaintBox->SetName("PaintBox");
  FPaintBox->SetParent(FPaintPanel.get());
  FPaintBox->OnDrawError = [this] {
    FPaintPanel->SetCaption("Invalid image");
    FPaintBox->SetVisible(false);
  };
  FPaintPanel->OnResize = [this](TObject*) { FPaintBox->FitIntoParent(); };
  FPicture->OnChange = [this](TObject*) { FPaintBox->FitIntoParent(); };
  // Incremental display: rows decoded so far are shown as they arrive.
  FPicture->OnProgress = [this](TObject*, TProgressStage, std::uint8_t, bool RedrawNow, const TRect&,
                                const std::string&) {
    if (RedrawNow && FPaintBox->Visible()) FPaintBox->Repaint();
  };
  ShowNone();
  FPictureLabel->SetCaption("");
}

TOpenPictureDialog::~TOpenPictureDialog() = default;

void TOpenPictureDialog::SetDesktopStyle(bool V) {
  if (V == FDesktopStyle) return;
  FDesktopStyle = V;
  SetColumnsFitContent(V);
  if (!V) SetFilter(TFileFormatsList::Instance().BuildPictureFilter(TGraphic::StaticClass()));
}

bool TOpenPictureDialog::Execute() {
  // Formats registered since the last run are offered too.
  if (FDesktopStyle) SetFilter(BuildFormatFilter());
  return TOpenDialog::Execute();
}

void TOpenPictureDialog::ShowNone() {
  FPicture->SetGraphic(nullptr);
  FPaintPanel->SetCaption("(None)");
  FPreviewButton->SetEnabled(false);
}

void TOpenPictureDialog::DoShow() {
  FRememberedName.clear();
  // In the desktop style no preview shows no size either (not the last run's).
  if (FDesktopStyle) FPictureLabel->SetCaption("");
  // An empty preview has nothing to show in the preview window either.
  ShowNone();
  TOpenDialog::DoShow();
}

void TOpenPictureDialog::DoSelectionChange() {
  const std::string Name = CurrentFileName();
  if (Name != FRememberedName) {
    FRememberedName = Name;
    std::error_code Ec;
    bool Loaded = false;
    if (std::filesystem::is_regular_file(Name, Ec) && !Ec) {
      try {
        FPicture->LoadFile(Name);
        Loaded = true;
      } catch (const std::exception&) {
        // A file that cannot be previewed is reported by whoever opens it.
      }
    }
    if (Loaded) {
      FPictureLabel->SetCaption(Format(" (%dx%d)", {FPicture->Width(), FPicture->Height()}));
      FPreviewButton->SetEnabled(true);
      FPaintPanel->SetCaption("");
    } else {
      FPictureLabel->SetCaption("Picture:");
      ShowNone();
    }
  }
  TOpenDialog::DoSelectionChange();
}

void TOpenPictureDialog::ShowPreview() {
  TPicture Copy;
  Copy.CopyFrom(FPicture.get());
  auto Form = std::make_unique<TPreviewForm>(nullptr);
  Form->SetName("PreviewForm");
  Form->SetCaption("Preview");
  Form->SetToolWindow(true);
  Form->SetPosition(poScreenCenter);
  Form->SetBounds(0, 0, 328, 267);
  auto* Panel = Form->Own(std::make_unique<TPanel>(Form.get()));
  Panel->SetParent(Form.get());
  Panel->SetBevelOuter(bvNone);
  Panel->SetBorderStyle(bsSingle);
  Panel->SetColor(clBtnFace);
  Panel->SetAlign(alClient);
  constexpr int BorderWidth = 5;
  auto* Box = Form->Own(std::make_unique<TPictureBox>(Form.get(), &Copy));
  Box->SetParent(Panel);
  Panel->OnResize = [Box](TObject*) { Box->FitIntoParent(BorderWidth); };
  if (Copy.Width() > 0) {
    // As large as the picture plus the border, up to three quarters of the monitor.
    const TRect M = MonitorBounds();
    const int W = std::min(M.Width() * 3 / 4, Form->ClientWidth() + Copy.Width() - Panel->ClientWidth() + 2 * BorderWidth);
    const int H =
        std::min(M.Height() * 3 / 4, Form->ClientHeight() + Copy.Height() - Panel->ClientHeight() + 2 * BorderWidth);
    Form->SetClientSize(W, H);
  }
  Box->FitIntoParent(BorderWidth);
  if (OnPreviewShow) Form->OnShow = [this](TObject* F) { OnPreviewShow(F); };
  Form->ShowModal();
}

void RegisterOpenPictureDialogClasses() { RegisterClass(TOpenPictureDialog::StaticClass()); }
