#include "viewer/Unit1.h"

#include <QDesktopServices>
#include <QUrl>

#include "toolkit/Exceptions.h"
#include "toolkit/StoredLayout.h"
#include "toolkit/SysUtils.h"

// The layout text, embedded at build time.
namespace kest_viewer_data {
extern const unsigned char Unit1_layout[];
extern const std::size_t Unit1_layout_size;
}  // namespace kest_viewer_data

const char* const HomePageUrl = "https://www.kestimage.org/default.htm";

std::string_view Form1Layout() {
  return {reinterpret_cast<const char*>(kest_viewer_data::Unit1_layout), kest_viewer_data::Unit1_layout_size};
}

namespace {
int GUnitStarts = 0;
}

void InitializeViewerUnits() {
  if (GUnitStarts++ != 0) return;
  RegisterStdCtrlsClasses();
  RegisterComCtrlsClasses();
  RegisterActnListClasses();
  RegisterImgListClasses();
  RegisterDialogsClasses();
  RegisterOpenPictureDialogClasses();
  InitializeKestImageUnit();
}

void FinalizeViewerUnits() {
  if (--GUnitStarts != 0) return;
  FinalizeKestImageUnit();
}

// ---------------------------------------------------------------------------
// TForm1

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
  RegisterHandlers();
  ReadLayout(*this, Form1Layout());
  FindComponents();
  // Pictures decode on a worker thread: the window stays responsive, showing
  // the busy cursor over the picture and the percent in the file panel.
  KestImage1->SetBackgroundDecoding(true);
  KestImage1->OnProgress = [this](TObject*, TProgressStage Stage, std::uint8_t Percent, bool, const TRect&,
                                  const std::string&) { KestImage1Progress(Stage, Percent); };
}

void TForm1::KestImage1Progress(TProgressStage Stage, std::uint8_t Percent) {
  if (Stage == psEnding)
    StatusBar->SetPanelText(1, FFileName);
  else
    StatusBar->SetPanelText(1, Format("%s  %d%%", {FFileName, static_cast<int>(Percent)}));
}

void TForm1::RegisterHandlers() {
  auto Notify = [this](const char* Name, void (TForm1::*Handler)(TObject*)) {
    RegisterMethod(Name, TNotifyEvent([this, Handler](TObject* Sender) { (this->*Handler)(Sender); }));
  };
  Notify("KestImage1ScaleChange", &TForm1::KestImage1ScaleChange);
  Notify("ComboBox1Click", &TForm1::ComboBox1Click);
  Notify("ZoomInExecute", &TForm1::ZoomInExecute);
  Notify("ZoomOutExecute", &TForm1::ZoomOutExecute);
  Notify("BestFitExecute", &TForm1::BestFitExecute);
  Notify("StretchExecute", &TForm1::StretchExecute);
  Notify("ResizeExecute", &TForm1::ResizeExecute);
  Notify("LockZoomExecute", &TForm1::LockZoomExecute);
  Notify("Label1Click", &TForm1::Label1Click);
  Notify("FileOpen1Execute", &TForm1::FileOpen1Execute);
  Notify("FileFirstExecute", &TForm1::FileFirstExecute);
  Notify("FilePriorExecute", &TForm1::FilePriorExecute);
  Notify("FileNextExecute", &TForm1::FileNextExecute);
  Notify("FileLastExecute", &TForm1::FileLastExecute);
  RegisterMethod("ComboBox1KeyPress",
                 TKeyPressEvent([this](TObject* Sender, char& Key) { ComboBox1KeyPress(Sender, Key); }));
  RegisterMethod("KestImage1MouseWheelDown",
                 TMouseWheelUpDownEvent([this](TObject* S, TShiftState Sh, TPoint P, bool& H) {
                   KestImage1MouseWheelDown(S, Sh, P, H);
                 }));
  RegisterMethod("KestImage1MouseWheelUp",
                 TMouseWheelUpDownEvent([this](TObject* S, TShiftState Sh, TPoint P, bool& H) {
                   KestImage1MouseWheelUp(S, Sh, P, H);
                 }));
}

namespace {

template <class T>
T* Find(const TComponent& Root, const char* Name) {
  auto* C = dynamic_cast<T*>(Root.FindComponent(Name));
  if (!C) throw EReadError(Format("The window layout lacks %s", {Name}));
  return C;
}

}  // namespace

void TForm1::FindComponents() {
  Label1 = Find<TLabel>(*this, "Label1");
  KestImage1 = Find<TKestImage>(*this, "KestImage1");
  ToolBar1 = Find<TToolBar>(*this, "ToolBar1");
  ToolButton1 = Find<TToolButton>(*this, "ToolButton1");
  ToolButton3 = Find<TToolButton>(*this, "ToolButton3");
  ToolButton11 = Find<TToolButton>(*this, "ToolButton11");
  ToolButton8 = Find<TToolButton>(*this, "ToolButton8");
  ToolButton10 = Find<TToolButton>(*this, "ToolButton10");
  Panel1 = Find<TPanel>(*this, "Panel1");
  Label2 = Find<TLabel>(*this, "Label2");
  ComboBox1 = Find<TComboBox>(*this, "ComboBox1");
  tbLock = Find<TToolButton>(*this, "tbLock");
  ToolButton4 = Find<TToolButton>(*this, "ToolButton4");
  tbResize = Find<TToolButton>(*this, "tbResize");
  tbStretch = Find<TToolButton>(*this, "tbStretch");
  ToolButton17 = Find<TToolButton>(*this, "ToolButton17");
  ToolButton5 = Find<TToolButton>(*this, "ToolButton5");
  ToolButton6 = Find<TToolButton>(*this, "ToolButton6");
  ToolButton7 = Find<TToolButton>(*this, "ToolButton7");
  ToolButton12 = Find<TToolButton>(*this, "ToolButton12");
  StatusBar = Find<TStatusBar>(*this, "StatusBar");
  ActionList1 = Find<TActionList>(*this, "ActionList1");
  FileOpen1 = Find<TAction>(*this, "FileOpen1");
  LockZoom = Find<TAction>(*this, "LockZoom");
  ZoomIn = Find<TAction>(*this, "ZoomIn");
  ZoomOut = Find<TAction>(*this, "ZoomOut");
  BestFit = Find<TAction>(*this, "BestFit");
  FileFirst = Find<TAction>(*this, "FileFirst");
  FilePrior = Find<TAction>(*this, "FilePrior");
  FileNext = Find<TAction>(*this, "FileNext");
  FileLast = Find<TAction>(*this, "FileLast");
  Stretch = Find<TAction>(*this, "Stretch");
  Resize = Find<TAction>(*this, "Resize");
  ImageList1 = Find<TImageList>(*this, "ImageList1");
  OpenPictureDialog = Find<TOpenPictureDialog>(*this, "OpenPictureDialog");
  // The link's width follows its caption in the installed font; the status bar
  // ends 7 pixels before it, as it was laid out.
  StatusBar->SetWidth(Label1->Left() - 7 - StatusBar->Left());
}

// ---------------------------------------------------------------------------
// Zoom, scale mode and link

void TForm1::KestImage1ScaleChange(TObject*) {
  ComboBox1->SetText(KestImage1->GetScaleText());
  StatusBar->SetPanelText(0, KestImage1->GetScaleText());
}

void TForm1::ComboBox1Click(TObject*) { KestImage1->SetScaleText(ComboBox1->Text()); }

void TForm1::ComboBox1KeyPress(TObject*, char& Key) {
  if (Key == '\r') {
    // Leaving the box applies its text (its exit handler); the Enter goes no further.
    KestImage1->SetFocus();
    Key = 0;
  }
}

void TForm1::ZoomInExecute(TObject*) { KestImage1->Zoom(zkIn, -1, -1); }
void TForm1::ZoomOutExecute(TObject*) { KestImage1->Zoom(zkOut, -1, -1); }
void TForm1::BestFitExecute(TObject*) { KestImage1->Zoom(zkBestFit, -1, -1); }

void TForm1::StretchExecute(TObject*) { KestImage1->SetScaleMode(tbStretch->Down() ? smStretch : smScale); }
void TForm1::ResizeExecute(TObject*) { KestImage1->SetScaleMode(tbResize->Down() ? smResize : smScale); }
void TForm1::LockZoomExecute(TObject*) { KestImage1->SetLockScale(tbLock->Down()); }

void TForm1::Label1Click(TObject*) {
  // Handed to the desktop's browser without waiting; a failure stays silent.
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(HomePageUrl)));
}

// ---------------------------------------------------------------------------
// Navigation through the chosen files

void TForm1::ShowFile(std::int32_t Index) {
  const TStringList& Files = OpenPictureDialog->SelectedFiles();
  if (Index == FFileIndex || Index < 0 || Index >= Files.Count()) return;
  FFileIndex = Index;
  const std::string Name = Files[Index];
  KestImage1->Picture()->LoadFile(Name);
  FFileName = ExtractFileName(Name);
  StatusBar->SetPanelText(1, FFileName);
  for (TAction* A : {FileNext, FileLast, FilePrior, FileFirst}) A->SetEnabled(true);
  if (FFileIndex == Files.Count() - 1) {
    FileNext->SetEnabled(false);
    FileLast->SetEnabled(false);
  }
  if (FFileIndex == 0) {
    FilePrior->SetEnabled(false);
    FileFirst->SetEnabled(false);
  }
}

void TForm1::FileOpen1Execute(TObject*) {
  if (!OpenPictureDialog->Execute()) return;
  // A new selection starts anew, even at the index shown before.
  FFileIndex = -1;
  ShowFile(0);
}

void TForm1::FileFirstExecute(TObject*) { ShowFile(0); }
void TForm1::FilePriorExecute(TObject*) { ShowFile(FFileIndex - 1); }
void TForm1::FileNextExecute(TObject*) { ShowFile(FFileIndex + 1); }
void TForm1::FileLastExecute(TObject*) { ShowFile(OpenPictureDialog->SelectedFiles().Count() - 1); }

void TForm1::KestImage1MouseWheelDown(TObject*, TShiftState, TPoint, bool& Handled) {
  ShowFile(FFileIndex + 1);
  Handled = true;
}

void TForm1::KestImage1MouseWheelUp(TObject*, TShiftState, TPoint, bool& Handled) {
  ShowFile(FFileIndex - 1);
  Handled = true;
}
