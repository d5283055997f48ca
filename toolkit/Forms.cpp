#include "toolkit/Forms.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "toolkit/Exceptions.h"
#include "toolkit/QtPresenter_p.h"

KEST_CLASS_IMPL(TCustomForm, TWinControl)
KEST_CLASS_IMPL(TForm, TCustomForm)

namespace {
TCustomForm* GActiveForm = nullptr;
TApplication* GApplication = nullptr;
const std::vector<std::string> PositionNames = {"poDesigned",     "poDefault",       "poDefaultPosOnly",
                                                "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter",
                                                "poMainFormCenter",  "poOwnerFormCenter"};
}  // namespace

// ---------------------------------------------------------------------------
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetColor(clBtnFace);
  SetVisible(false);
}

TCustomForm::~TCustomForm() {
  if (GActiveForm == this) GActiveForm = nullptr;
}

TRect TCustomForm::FrameMargins(std::uint32_t, std::uint32_t) const { return TRect{4, 23, 4, 4}; }

void TCustomForm::SetCaption(const std::string& C) {
  FCaption = C;
  if (HandleAllocated()) Widget()->setWindowTitle(QString::fromStdString(C));
}

void TCustomForm::SetActiveControl(TWinControl* C) {
  FActiveControl = C;
  if (C && HandleAllocated() && Active()) C->SetFocus();
}

bool TCustomForm::Active() const { return GActiveForm == this; }

void TCustomForm::CreateWnd() {
  TWinControl::CreateWnd();
  Widget()->setWindowTitle(QString::fromStdString(FCaption));
}

void TCustomForm::Show() {
  HandleNeeded();
  QWidget* W = Widget();
  if (FPosition == poDesktopCenter || FPosition == poScreenCenter || FPosition == poMainFormCenter) {
    if (const QScreen* S = QGuiApplication::primaryScreen()) {
      const QRect A = S->availableGeometry();
      SetBounds(A.left() + (A.width() - Width()) / 2, A.top() + (A.height() - Height()) / 2, Width(), Height());
    }
  }
  W->move(Left() + CurrentFrame().Left, Top() + CurrentFrame().Top);
  SetVisible(true);
  W->show();
  GActiveForm = this;
  if (FActiveControl && FActiveControl->CanFocus()) FActiveControl->SetFocus();
  if (OnShow) OnShow(this);
}

void TCustomForm::Close() {
  if (OnClose) OnClose(this);
  if (HandleAllocated()) Widget()->close();
  if (GActiveForm == this) GActiveForm = nullptr;
}

bool TCustomForm::IsShortCut(std::uint16_t, TShiftState) { return false; }

void TCustomForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_QUERYNEWPALETTE) {
    // Each visible control that has a palette gets it realised; on screens of
    // more than 8 bits that changes no colours, below that the control repaints.
    Message.Result = 0;
    for (int I = 0; I < ControlCount(); ++I) {
      TControl* C = Controls(I);
      if (!C->Visible() || !C->GetPalette()) continue;
      Message.Result = 1;
      if (DisplayInfo().BitsPerPixel * DisplayInfo().Planes <= 8) C->Invalidate();
    }
    return;
  }
  TWinControl::WndProc(Message);
}

void TCustomForm::DefineProperties(TPropList& L) const {
  TWinControl::DefineProperties(L);
  L.push_back(prop::String<TCustomForm>("Caption", &TCustomForm::Caption, &TCustomForm::SetCaption, std::string()));
  L.push_back(prop::Enum<TCustomForm, TPosition>("Position", &TCustomForm::Position, &TCustomForm::SetPosition,
                                                 PositionNames, poDesigned));
  L.push_back(prop::Bool<TCustomForm>("ShowHint", &TCustomForm::ShowHint, &TCustomForm::SetShowHint, false));
  PublishColor(L);
}

TCustomForm* GetParentForm(TControl* Control) {
  for (TControl* C = Control; C; C = C->Parent())
    if (auto* F = dynamic_cast<TCustomForm*>(C)) return F;
  return nullptr;
}

// ---------------------------------------------------------------------------
// TApplication

TApplication* Application() { return GApplication; }
void SetApplication(TApplication* A) { GApplication = A; }

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  if (!GApplication) GApplication = this;
  SetExceptionHandler([this](const Exception& E) { ShowException(E); });
}

TApplication::~TApplication() {
  SetExceptionHandler(nullptr);
  if (GApplication == this) GApplication = nullptr;
}

void TApplication::Initialize() {}

int TApplication::Run() {
  if (FMainForm) FMainForm->Show();
  return QApplication::exec();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

void TApplication::Terminate() { QCoreApplication::quit(); }

std::string TApplication::Title() const {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

void TApplication::ShowException(const Exception& E) {
  std::string Text = E.Message();
  // A message that ends in a letter or digit gets a full stop.
  if (!Text.empty() && static_cast<unsigned char>(Text.back()) > '.') Text += '.';
  const std::string Caption = Title();
  if (MessageBoxHook) {
    MessageBoxHook(Caption, Text);
    return;
  }
  // Shown from the event loop, so that the handler that failed has returned.
  QTimer::singleShot(0, qApp, [Caption, Text] {
    QWidget* Parent = QApplication::activeWindow();
    QMessageBox Box(QMessageBox::Critical, QString::fromStdString(Caption), QString::fromStdString(Text),
                    QMessageBox::Ok, Parent);
    Box.exec();
  });
}
