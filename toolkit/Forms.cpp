#include "toolkit/Forms.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include "toolkit/ActnList.h"
#include "toolkit/Exceptions.h"
#include "toolkit/QtPresenter_p.h"
#include "toolkit/WidgetControl.h"

KEST_CLASS_IMPL(TCustomForm, TWinControl)
KEST_CLASS_IMPL(TForm, TCustomForm)

namespace {
TCustomForm* GActiveForm = nullptr;
TApplication* GApplication = nullptr;
const std::vector<std::string> PositionNames = {"poDesigned",     "poDefault",       "poDefaultPosOnly",
                                                "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter",
                                                "poMainFormCenter",  "poOwnerFormCenter"};

}  // namespace

namespace {

// The local files of a drop, or nothing when it holds anything else.
std::vector<std::string> DroppedFiles(const QMimeData* M) {
  std::vector<std::string> Files;
  if (!M || !M->hasUrls()) return Files;
  for (const QUrl& U : M->urls()) {
    if (!U.isLocalFile() || U.toLocalFile().isEmpty()) return {};
    Files.push_back(U.toLocalFile().toStdString());
  }
  return Files;
}

}  // namespace

// Watches a form's top-level window: activation makes it the active form, a
// close by the window manager ends a modal run, and keys that reach the window
// itself (no control has the focus) go to the form; dropped files go to its
// OnDropFiles.
class TFormWatcher : public QObject {
 public:
  explicit TFormWatcher(TCustomForm* Form) : FForm(Form) {}
  void Detach() { FForm = nullptr; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* E) override {
    if (!FForm) return false;
    TCustomForm* F = FForm;
    switch (E->type()) {
      case QEvent::WindowActivate:
        GActiveForm = F;
        return false;
      case QEvent::Close:
        RunGuarded([F] { F->WindowClosed(); });
        return false;
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* D = static_cast<QDragMoveEvent*>(E);
        if (F->OnDropFiles && !DroppedFiles(D->mimeData()).empty())
          D->acceptProposedAction();
        else
          D->ignore();
        return true;
      }
      case QEvent::Drop: {
        auto* D = static_cast<QDropEvent*>(E);
        const std::vector<std::string> Files = DroppedFiles(D->mimeData());
        if (!F->OnDropFiles || Files.empty()) {
          D->ignore();
          return true;
        }
        D->acceptProposedAction();
        RunGuarded([&] { F->OnDropFiles(F, Files); });
        return true;
      }
      case QEvent::KeyPress: {
        if (Watched != F->Widget()) return false;
        auto* K = static_cast<QKeyEvent*>(E);
        const std::uint16_t Vk = VirtualKeyFromQt(K->key(), K->modifiers());
        if (!Vk) return false;
        RunGuarded([&] { F->InputKeyDown(Vk, ShiftFromQt(K->modifiers(), QApplication::mouseButtons())); });
        return true;
      }
      default:
        return false;
    }
  }

 private:
  TCustomForm* FForm;
};

// ---------------------------------------------------------------------------
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetColor(clBtnFace);
  SetVisible(false);
}

TCustomForm::~TCustomForm() {
  DestroyHandle();
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
  QWidget* W = Widget();
  W->setWindowTitle(QString::fromStdString(FCaption));
  if (FToolWindow) W->setWindowFlags(W->windowFlags() | Qt::Tool);
  W->setAcceptDrops(true);
  FWatcher = new TFormWatcher(this);
  FWatcher->setParent(W);
  W->installEventFilter(FWatcher);
}

void TCustomForm::DestroyWnd() {
  if (FWatcher) FWatcher->Detach();
  FWatcher = nullptr;
  TWinControl::DestroyWnd();
}

int TCustomForm::ShowModal() {
  FModalResult = 0;
  FModalDone = false;
  HandleNeeded();
  Widget()->setWindowModality(Qt::ApplicationModal);
  Show();
  // A form closed while it was being shown (by its OnShow) needs no loop.
  if (!FModalDone) {
    QEventLoop Loop;
    FModalLoop = &Loop;
    Loop.exec(QEventLoop::DialogExec);
    FModalLoop = nullptr;
  }
  if (HandleAllocated()) Widget()->setWindowModality(Qt::NonModal);
  return FModalResult;
}

void TCustomForm::WindowClosed() {
  if (GActiveForm == this) GActiveForm = nullptr;
  FModalDone = true;
  if (FModalLoop) FModalLoop->exit(FModalResult);
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
  FitScreen();
  W->move(Left() + CurrentFrame().Left, Top() + CurrentFrame().Top);
  // The window manager keeps the window at least as large as the constraints ask.
  const TRect F = CurrentFrame();
  W->setMinimumSize(std::max(Constraints().MinWidth - F.Left - F.Right, 0),
                    std::max(Constraints().MinHeight - F.Top - F.Bottom, 0));
  SetVisible(true);
  switch (FWindowState) {
    case wsNormal: W->show(); break;
    case wsMinimized: W->showMinimized(); break;
    case wsMaximized: W->showMaximized(); break;
    case wsFullScreen: W->showFullScreen(); break;
  }
  GActiveForm = this;
  if (FActiveControl && FActiveControl->CanFocus()) FActiveControl->SetFocus();
  if (OnShow) OnShow(this);
}

void TCustomForm::FitScreen() {
  QWidget* W = Widget();
  const QScreen* S = W->screen() ? W->screen() : QGuiApplication::primaryScreen();
  if (!S) return;
  // A window larger than the screen (a layout made for a screen with more
  // room, or a high-density screen in Qt's logical units) shrinks to it; one
  // placed partly off the screen (a place kept from another screen) moves
  // onto it.
  const QRect A = S->availableGeometry();
  const std::int32_t Wd = std::min(Width(), A.width()), Ht = std::min(Height(), A.height());
  const std::int32_t L = std::clamp(Left(), A.left(), A.left() + A.width() - Wd);
  const std::int32_t T = std::clamp(Top(), A.top(), A.top() + A.height() - Ht);
  SetBounds(L, T, Wd, Ht);
}

void TCustomForm::SetWindowState(TWindowState S) {
  if (FWindowState == S) return;
  FWindowState = S;
  if (!HandleAllocated() || !Widget()->isVisible()) return;
  QWidget* W = Widget();
  switch (S) {
    case wsNormal: W->showNormal(); break;
    case wsMinimized: W->showMinimized(); break;
    case wsMaximized: W->showMaximized(); break;
    case wsFullScreen: W->showFullScreen(); break;
  }
}

void TCustomForm::Close() {
  if (OnClose) OnClose(this);
  if (HandleAllocated()) Widget()->close();
  WindowClosed();
}

bool TCustomForm::IsShortCut(std::uint16_t Key, TShiftState Shift) {
  // The shortcuts of the form's action lists, whichever control has the focus.
  for (int I = 0; I < ComponentCount(); ++I)
    if (auto* L = dynamic_cast<TActionList*>(Components(I)); L && L->IsShortCut(Key, Shift)) return true;
  return false;
}

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
  L.push_back(prop::Reference<TCustomForm, TWinControl>("ActiveControl", &TCustomForm::ActiveControl,
                                                        &TCustomForm::SetActiveControl));
  PublishColor(L);
  PublishFont(L);
  L.push_back(prop::Int<TCustomForm, int>("PixelsPerInch", &TCustomForm::PixelsPerInch, &TCustomForm::SetPixelsPerInch,
                                          std::nullopt));
  L.push_back(
      prop::Int<TCustomForm, int>("TextHeight", &TCustomForm::TextHeight, &TCustomForm::SetTextHeight, std::nullopt));
}

TCustomForm* GetActiveForm() { return GActiveForm; }

TCustomForm* GetParentForm(TControl* Control) {
  for (TControl* C = Control; C; C = C->Parent())
    if (auto* F = dynamic_cast<TCustomForm*>(C)) return F;
  return nullptr;
}

// ---------------------------------------------------------------------------
// TApplication

TApplication* Application() { return GApplication; }
void SetApplication(TApplication* A) { GApplication = A; }

namespace {

// Whether a Qt widget shows part of a toolkit window (and not of a Qt dialog
// that merely has one as its parent), and that window takes input: while a
// modal window is up, the windows behind it take none.
bool InToolkitWindow(QObject* O) {
  auto* W = qobject_cast<QWidget*>(O);
  if (!W || !dynamic_cast<TWindowWidget*>(W->window())) return false;
  const QWidget* Modal = QApplication::activeModalWidget();
  return !Modal || Modal == W->window();
}

// A wheel turn goes to the control with the keyboard focus, wherever the
// pointer is: a control made of a Qt widget gets the turn in its widget,
// any other control through its wheel events.
class TWheelRouter : public QObject {
 protected:
  bool eventFilter(QObject* Watched, QEvent* E) override {
    if (E->type() != QEvent::Wheel || FRouting || !InToolkitWindow(Watched)) return false;
    TWinControl* Target = Screen().ActiveControl();
    if (!Target || !Target->HandleAllocated()) return false;
    auto* W = static_cast<QWheelEvent*>(E);
    if (auto* H = dynamic_cast<TWidgetControl*>(Target)) {
      QWidget* Dest = H->Hosted();
      if (Dest == Watched) return false;
      QWheelEvent Copy(Dest->mapFromGlobal(W->globalPosition()), W->globalPosition(), W->pixelDelta(), W->angleDelta(),
                       W->buttons(), W->modifiers(), W->phase(), W->inverted());
      FRouting = true;
      QApplication::sendEvent(Dest, &Copy);
      FRouting = false;
      return true;
    }
    const TControl::TWheelTurn Turn = WheelTurnFromQt(*W);
    if (Turn.Angle == TPoint{} && Turn.Pixels == TPoint{}) return true;
    const QPoint G = W->globalPosition().toPoint();
    const TShiftState S = ShiftFromQt(W->modifiers(), W->buttons());
    RunGuarded([&] { Target->InputWheelTurn(S, Turn, TPoint{G.x(), G.y()}); });
    return true;
  }

 private:
  bool FRouting = false;
};

}  // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  if (!GApplication) GApplication = this;
  SetExceptionHandler([this](const Exception& E) { ShowException(E); });
  FWheelRouter = std::make_unique<TWheelRouter>();
  qApp->installEventFilter(FWheelRouter.get());
}

TApplication::~TApplication() {
  qApp->removeEventFilter(FWheelRouter.get());
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
  if (!FTitle.empty()) return FTitle;
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

void TApplication::ShowException(const Exception& E) {
  std::string Text = E.Message();
  // A message that ends in a letter or digit gets a full stop.
  if (!Text.empty() && static_cast<unsigned char>(Text.back()) > '.') Text += '.';
  ShowBox(true, Text);
}

void TApplication::ShowMessage(const std::string& Text) { ShowBox(false, Text); }

void TApplication::ShowBox(bool Error, const std::string& Text) {
  const std::string Caption = Title();
  if (MessageBoxHook) {
    MessageBoxHook(Caption, Text);
    return;
  }
  // Shown from the event loop, so that the handler that failed has returned.
  QTimer::singleShot(0, qApp, [Caption, Text, Error] {
    QWidget* Parent = QApplication::activeWindow();
    QMessageBox Box(Error ? QMessageBox::Critical : QMessageBox::Information, QString::fromStdString(Caption),
                    QString::fromStdString(Text), QMessageBox::Ok, Parent);
    // The box sizes itself to its text; the title bar (caption and the window
    // manager's buttons) needs room as well, or the caption is cut.
    if (auto* Grid = qobject_cast<QGridLayout*>(Box.layout())) {
      const int Title = Box.fontMetrics().horizontalAdvance(Box.windowTitle()) + 160;
      Grid->addItem(new QSpacerItem(std::max(Title, 300), 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                    Grid->rowCount(), 0, 1, Grid->columnCount());
    }
    Box.exec();
  });
}
