#include "viewer/Unit1.h"

#include <algorithm>

#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QUrl>

#include "picture/FileFormats.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StoredLayout.h"
#include "toolkit/SysUtils.h"
#include "viewer/AboutBox.h"
#include "viewer/FileFacts.h"
#include "viewer/PictureFolder.h"
#include "viewer/WheelScroll.h"

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
  RegisterMenusClasses();
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
  // Pictures decode on a worker thread: the window stays usable while they do.
  KestImage1->SetBackgroundDecoding(true);
  // The open dialog as people expect it on a desktop.
  OpenPictureDialog->SetDesktopStyle(true);
  FZoomOnOpen = std::make_unique<TZoomOnOpen>(*KestImage1);
  FZoomOnOpen->OnAreaChanged = [this] { ShowZoomText(); };
  KestImage1->OnDblClick = [this](TObject*) { FullScreen->Execute(); };
}

TForm1::~TForm1() = default;

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
  Notify("SmoothExecute", &TForm1::SmoothExecute);
  Notify("Label1Click", &TForm1::Label1Click);
  Notify("FileOpen1Execute", &TForm1::FileOpen1Execute);
  Notify("FileFirstExecute", &TForm1::FileFirstExecute);
  Notify("FilePriorExecute", &TForm1::FilePriorExecute);
  Notify("FileNextExecute", &TForm1::FileNextExecute);
  Notify("FileLastExecute", &TForm1::FileLastExecute);
  Notify("ActualSizeExecute", &TForm1::ActualSizeExecute);
  Notify("FullScreenExecute", &TForm1::FullScreenExecute);
  Notify("EditCopyExecute", &TForm1::EditCopyExecute);
  Notify("FileCloseExecute", &TForm1::FileCloseExecute);
  Notify("HelpAboutExecute", &TForm1::HelpAboutExecute);
  RegisterMethod("KestImage1MouseWheel",
                 TMouseWheelEvent([this](TObject* S, TShiftState Sh, int D, TPoint P, bool& H) {
                   KestImage1MouseWheel(S, Sh, D, P, H);
                 }));
  RegisterMethod("KestImage1Progress", TProgressEvent([this](TObject* S, TProgressStage St, std::uint8_t Pc, bool Rn,
                                                             const TRect& R, const std::string& M) {
                   KestImage1Progress(S, St, Pc, Rn, R, M);
                 }));
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
  ToolButton18 = Find<TToolButton>(*this, "ToolButton18");
  tbSmooth = Find<TToolButton>(*this, "tbSmooth");
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
  ActualSize = Find<TAction>(*this, "ActualSize");
  FullScreen = Find<TAction>(*this, "FullScreen");
  Smooth = Find<TAction>(*this, "Smooth");
  EditCopy = Find<TAction>(*this, "EditCopy");
  FileClose = Find<TAction>(*this, "FileClose");
  HelpAbout = Find<TAction>(*this, "HelpAbout");
  ImageList1 = Find<TImageList>(*this, "ImageList1");
  OpenPictureDialog = Find<TOpenPictureDialog>(*this, "OpenPictureDialog");
  PopupMenu1 = Find<TPopupMenu>(*this, "PopupMenu1");
  OnDropFiles = [this](TObject* Sender, const std::vector<std::string>& Names) { FormDropFiles(Sender, Names); };
  ShowWindowKeysInMenu();
  BindOpenZoomMenu();
  AddFactPanels(*StatusBar);
  // The link's width follows its caption in the installed font; the status bar
  // ends 7 pixels before it, as it was laid out.
  StatusBar->SetWidth(Label1->Left() - 7 - StatusBar->Left());
  // The window never gets so small that the tool bar hides a button: the last
  // one keeps the indent's distance to the right edge, and the view keeps room.
  std::int32_t ToolsRight = 0;
  for (int I = 0; I < ToolBar1->ControlCount(); ++I)
    ToolsRight = std::max(ToolsRight, ToolBar1->Controls(I)->Left() + ToolBar1->Controls(I)->Width());
  const TRect Frame = FrameMargins(0, 0);
  TSizeConstraints Min = Constraints();
  Min.MinWidth = ToolsRight + ToolBar1->Indent() + Frame.Left + Frame.Right;
  Min.MinHeight = 200 + Frame.Top + Frame.Bottom;
  SetConstraints(Min);
}

// ---------------------------------------------------------------------------
// The window's keys

namespace {

enum TWindowCommand : std::uint8_t {
  wcZoomIn, wcZoomOut, wcActualSize, wcFullScreen, wcLeaveFullScreen,
  wcFirst, wcPrior, wcNext, wcLast, wcClose, wcQuit, wcCopy, wcToggleFit, wcPriorAcross, wcNextAcross, wcAbout,
};

// Keys of the window beside the actions' own shortcuts and the view's key
// table (arrows scroll, keypad keys zoom). Where a command has several keys,
// the first is the one its menu entry shows.
const struct {
  TShortCut Key;
  TWindowCommand Command;
} WindowKeys[] = {
    {scCtrl | VK_OEM_PLUS, wcZoomIn},            // Ctrl+= (and Ctrl++ where plus has its own key)
    {scCtrl | scShift | VK_OEM_PLUS, wcZoomIn},  // Ctrl++ where plus is Shift+=
    {scCtrl | VK_OEM_MINUS, wcZoomOut},
    {scCtrl | '0', wcActualSize},
    {VK_F1 + 10, wcFullScreen},  // F11
    {VK_ESCAPE, wcLeaveFullScreen},
    {VK_HOME, wcFirst},
    {VK_PRIOR, wcPrior},
    {VK_BACK, wcPrior},
    {VK_NEXT, wcNext},
    {VK_SPACE, wcNext},
    {VK_END, wcLast},
    {scCtrl | 'W', wcClose},
    {scCtrl | 'Q', wcQuit},
    {scCtrl | 'C', wcCopy},
    {'F', wcToggleFit},
    {VK_LEFT, wcPriorAcross},  // the view scrolls a picture wider than it
    {VK_RIGHT, wcNextAcross},
    {VK_F1, wcAbout},
};

bool IsFunctionKey(TShortCut S) {
  const int Key = S & 0x1FFF;
  return Key >= VK_F1 && Key < VK_F1 + 24;
}

}  // namespace

void TForm1::ShowWindowKeysInMenu() {
  const std::pair<TAction*, TWindowCommand> Shown[] = {
      {ZoomIn, wcZoomIn}, {ZoomOut, wcZoomOut}, {ActualSize, wcActualSize}, {FullScreen, wcFullScreen},
      {FileFirst, wcFirst}, {FilePrior, wcPrior}, {FileNext, wcNext}, {FileLast, wcLast},
      {EditCopy, wcCopy},  {FileClose, wcClose}, {HelpAbout, wcAbout}};
  const std::pair<TAction*, TToolButton*> Modes[] = {{LockZoom, tbLock}, {Resize, tbResize}, {Stretch, tbStretch}};
  for (int I = 0; I < PopupMenu1->Count(); ++I) {
    TMenuItem* Item = PopupMenu1->Items(I);
    // A mode's entry presses or releases its button, as a click on it does.
    for (const auto& [Action, Button] : Modes)
      if (Item->Action() == Action)
        Item->OnClick = [A = Action, B = Button](TObject*) {
          B->SetDown(!B->Down());
          A->Execute();
        };
    for (const auto& [Action, Command] : Shown) {
      if (Item->Action() != Action) continue;
      for (const auto& K : WindowKeys)
        if (K.Command == Command) {
          Item->SetShortCut(K.Key);
          break;
        }
    }
  }
}

void TForm1::BindOpenZoomMenu() {
  const std::pair<const char*, TOpenZoom> Entries[] = {
      {"mnOpenFit", ozFitLarge}, {"mnOpenActual", ozActualSize}, {"mnOpenKeep", ozKeep}};
  std::vector<std::pair<TMenuItem*, TOpenZoom>> Items;
  for (const auto& Entry : Entries) {
    TMenuItem* Item = Find<TMenuItem>(*this, Entry.first);
    Item->OnClick = [this, Zoom = Entry.second](TObject*) { FZoomOnOpen->SetOpenZoom(Zoom); };
    Items.emplace_back(Item, Entry.second);
  }
  // The entry of the setting in force is checked each time the menu opens.
  PopupMenu1->OnPopup = [this, Items](TObject*) {
    for (const auto& [Item, Zoom] : Items) Item->SetChecked(FZoomOnOpen->OpenZoom() == Zoom);
  };
}

bool TForm1::IsShortCut(std::uint16_t Key, TShiftState Shift) {
  if (TForm::IsShortCut(Key, Shift)) return true;
  const TShortCut S = ShortCut(Key, Shift);
  // Plain keys edit the text while the zoom box has the focus.
  if (!(S & (scCtrl | scAlt)) && !IsFunctionKey(S) && ComboBox1->Focused()) return false;
  for (const auto& K : WindowKeys) {
    if (K.Key != S) continue;
    switch (K.Command) {
      case wcZoomIn: ZoomIn->Execute(); break;
      case wcZoomOut: ZoomOut->Execute(); break;
      case wcActualSize: ActualSize->Execute(); break;
      case wcFullScreen: FullScreen->Execute(); break;
      case wcLeaveFullScreen:
        if (!FFullScreen) return false;
        SetFullScreen(false);
        break;
      case wcFirst: FileFirst->Execute(); break;
      case wcPrior: FilePrior->Execute(); break;
      case wcNext: FileNext->Execute(); break;
      case wcLast: FileLast->Execute(); break;
      case wcClose: FileClose->Execute(); break;
      case wcQuit:
        Close();
        if (Application()) Application()->Terminate();
        break;
      case wcCopy: EditCopy->Execute(); break;
      case wcAbout: HelpAbout->Execute(); break;
      case wcToggleFit: FZoomOnOpen->ToggleFit(); break;
      case wcPriorAcross:
      case wcNextAcross:
        if (!FitsAcross(*KestImage1)) return false;
        (K.Command == wcNextAcross ? FileNext : FilePrior)->Execute();
        break;
    }
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Zoom, scale mode, full screen and link

void TForm1::ShowZoomText() {
  // The list highlights the entry that the text names, or none.
  const std::string Text = FZoomOnOpen->ShownScaleText();
  ComboBox1->SetItemIndex(ComboBox1->Items().IndexOf(Text));
  ComboBox1->SetText(Text);
  StatusBar->SetPanelText(0, Text);
}

void TForm1::KestImage1ScaleChange(TObject*) {
  FZoomOnOpen->ScaleChanged();
  ShowZoomText();
}

void TForm1::ComboBox1Click(TObject*) {
  KestImage1->SetScaleText(ComboBox1->Text());
  // Text that is no zoom, and a zoom chosen while Stretch or Resize is down,
  // change no visible scale: the texts go back to the scale shown.
  ShowZoomText();
  // After a choice from the list the view takes the focus back, so the wheel
  // steps through the files again.
  if (ComboBox1->Focused()) KestImage1->SetFocus();
}

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
void TForm1::ActualSizeExecute(TObject*) {
  if (KestImage1->ScaleMode() == smScale) KestImage1->SetScale(1.0);
}

void TForm1::StretchExecute(TObject*) {
  KestImage1->SetScaleMode(tbStretch->Down() ? smStretch : smScale);
  ShowModes();
}
void TForm1::ResizeExecute(TObject*) {
  KestImage1->SetScaleMode(tbResize->Down() ? smResize : smScale);
  ShowModes();
}
void TForm1::LockZoomExecute(TObject*) {
  KestImage1->SetLockScale(tbLock->Down());
  ShowModes();
}

void TForm1::ShowModes() {
  // The menu's check marks follow the buttons.
  LockZoom->SetChecked(tbLock->Down());
  Resize->SetChecked(tbResize->Down());
  Stretch->SetChecked(tbStretch->Down());
  ShowZoomText();
}

void TForm1::EditCopyExecute(TObject*) { CopyPicture(); }
void TForm1::FileCloseExecute(TObject*) { Close(); }
void TForm1::HelpAboutExecute(TObject*) { ShowAbout(); }

void TForm1::ZoomAt(TZoomKind Kind, TPoint P) {
  // The picture point under P, in picture pixels before the step.
  const double Before = KestImage1->Scale();
  const TPoint Offset = KestImage1->Offset();
  const double X = (P.X + Offset.X) / Before, Y = (P.Y + Offset.Y) / Before;
  KestImage1->Zoom(Kind, -1, -1);
  const double After = KestImage1->Scale();
  if (After == Before) return;
  KestImage1->ScrollTo(TPoint{static_cast<std::int32_t>(X * After) - P.X, static_cast<std::int32_t>(Y * After) - P.Y});
}

void TForm1::KestImage1MouseWheel(TObject*, TShiftState Shift, int WheelDelta, TPoint MousePos, bool& Handled) {
  // Ctrl with the wheel zooms about the pointer; the plain wheel moves a
  // picture larger than the view and otherwise steps through the files.
  if (!Shift.Contains(ssCtrl)) {
    FZoomWheel = 0;
    if (ScrollForWheel(*KestImage1, Shift, TControl::CurrentWheelTurn())) Handled = true;
    return;
  }
  Handled = true;
  if (KestImage1->ScaleMode() != smScale) return;
  const TPoint P = KestImage1->ScreenToClient(MousePos);
  for (FZoomWheel += WheelDelta; FZoomWheel >= 120 || FZoomWheel <= -120;) {
    const bool In = FZoomWheel > 0;
    FZoomWheel += In ? -120 : 120;
    ZoomAt(In ? zkIn : zkOut, P);
  }
}

void TForm1::FullScreenExecute(TObject*) { SetFullScreen(!FFullScreen); }

void TForm1::SetFullScreen(bool On) {
  if (On == FFullScreen) return;
  FFullScreen = On;
  FullScreen->SetChecked(On);
  // The view's anchors keep its distances to the edges: the picture takes the
  // whole window in full screen and its old place afterwards, whatever size the
  // window manager gives the window in between.
  const std::int32_t Cw = ClientWidth(), Ch = ClientHeight();
  if (On) {
    const TRect B = KestImage1->BoundsRect();
    FViewMargins = TRect{B.Left, B.Top, Cw - B.Right, Ch - B.Bottom};
  }
  for (TControl* C : std::initializer_list<TControl*>{ToolBar1, StatusBar, Label1}) C->SetVisible(!On);
  const TRect M = On ? TRect{} : FViewMargins;
  KestImage1->SetBounds(M.Left, M.Top, Cw - M.Left - M.Right, Ch - M.Top - M.Bottom);
  SetWindowState(On ? wsFullScreen : wsNormal);
  KestImage1->SetFocus();
}

void TForm1::CopyPicture() {
  // The part of the client area that the picture covers, as it is shown.
  const TRect Image = KestImage1->GetImageRect();
  const QImage& Surface = KestImage1->ClientSurface();
  const QRect Shown = QRect(Image.Left, Image.Top, Image.Right - Image.Left, Image.Bottom - Image.Top) &
                      QRect(0, 0, Surface.width(), Surface.height());
  if (Shown.isEmpty()) return;
  QGuiApplication::clipboard()->setImage(Surface.copy(Shown));
}

void TForm1::KestImage1Progress(TObject*, TProgressStage Stage, std::uint8_t PercentDone, bool, const TRect&,
                                const std::string&) {
  // A decode that takes long shows the busy cursor and how far it got.
  const auto Now = std::chrono::steady_clock::now();
  if (Stage == psStarting) FDecodeStart = Now;
  const bool Long = Stage != psEnding && Now - FDecodeStart >= FBusyDelay;
  if (Long && !FBusy) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  const bool WasBusy = FBusy;
  if (!Long) EndBusy();
  FBusy = Long;
  const std::string Name = FFileIndex >= 0 && FFileIndex < static_cast<std::int32_t>(FFiles.size())
                               ? ExtractFileName(FFiles[static_cast<std::size_t>(FFileIndex)])
                               : StatusBar->Panel(1).Text;
  if (Long) {
    StatusBar->SetPanelText(1, Format("%s (%d%%)", {Name, static_cast<int>(PercentDone)}));
    StatusBar->PresentNow();
  } else if (WasBusy) {
    StatusBar->SetPanelText(1, Name);
  }
}

void TForm1::SmoothExecute(TObject*) {
  const bool On = KestImage1->Resampling() != rsSmooth;
  KestImage1->SetResampling(On ? rsSmooth : rsNearest);
  Smooth->SetChecked(On);
  tbSmooth->SetDown(On);
}

void TForm1::EndBusy() {
  if (!FBusy) return;
  QGuiApplication::restoreOverrideCursor();
  FBusy = false;
}

void TForm1::Label1Click(TObject*) {
  // Handed to the desktop's browser without waiting; a failure stays silent.
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(HomePageUrl)));
}

// ---------------------------------------------------------------------------
// Navigation through the chosen files

void TForm1::OpenFiles(const std::vector<std::string>& Names) {
  if (Names.empty()) return;
  int Start = 0;
  const auto IsFolder = [](const std::string& N) { return QFileInfo(QString::fromStdString(N)).isDir(); };
  if (Names.size() == 1 && !IsFolder(Names[0])) {
    TPictureSet Set = PicturesBeside(Names[0]);
    FFiles = std::move(Set.Files);
    Start = Set.Start;
    WatchFolder(true);
  } else {
    // A folder stands for its pictures, in the folder's order.
    std::vector<std::string> Files;
    for (const std::string& N : Names) {
      if (!IsFolder(N)) {
        Files.push_back(N);
        continue;
      }
      const std::vector<std::string> Inside = PicturesIn(N);
      Files.insert(Files.end(), Inside.begin(), Inside.end());
    }
    if (Files.empty()) {
      StatusBar->SetPanelText(1, Format("No pictures in \"%s\"", {ExtractFileName(Names[0])}));
      return;
    }
    FFiles = std::move(Files);
    // Files chosen one by one stay the list they are.
    WatchFolder(Names.size() == 1);
  }
  // A new selection starts anew, even at the index shown before.
  FFileIndex = -1;
  ShowFile(Start);
}

void TForm1::UpdateNavigation() {
  const auto Moves = [this](std::int32_t I) {
    return I != FFileIndex && I >= 0 && I < static_cast<std::int32_t>(FFiles.size());
  };
  FileFirst->SetEnabled(Moves(0));
  FilePrior->SetEnabled(Moves(FFileIndex - 1));
  FileNext->SetEnabled(Moves(FFileIndex + 1));
  FileLast->SetEnabled(Moves(static_cast<std::int32_t>(FFiles.size()) - 1));
}

void TForm1::ShowFile(std::int32_t Index) {
  if (Index == FFileIndex || Index < 0 || Index >= static_cast<std::int32_t>(FFiles.size())) return;
  const std::string Name = FFiles[static_cast<std::size_t>(Index)];
  // While browsing (not at a new selection's first file) a file that
  // vanished is skipped.
  if (FFileIndex >= 0 && FFiles.size() > 1 && !QFileInfo::exists(QString::fromStdString(Name))) {
    SkipVanished(Index);
    return;
  }
  FFileIndex = Index;
  FZoomOnOpen->BeginOpen();
  try {
    KestImage1->Picture()->LoadFileByContent(Name);
  } catch (Exception& E) {
    FZoomOnOpen->EndOpen();
    // The message, the title and the name panel tell which file failed; the
    // picture before stays.
    E.SetMessage(FileErrorText(Name, E));
    FLoadFailed = true;
    ShowFileFacts();
    throw;
  } catch (...) {
    FZoomOnOpen->EndOpen();
    UpdateNavigation();
    throw;
  }
  FZoomOnOpen->EndOpen();
  FLoadFailed = false;
  // A decode of the picture before was abandoned: its end never comes.
  EndBusy();
  ShowFileFacts();
  // The view paints the new picture now rather than from Qt's painting, so a
  // long decode can put its progress on the screen while it runs. Damage found
  // by the decode is reported as from painting, naming the file: the file
  // counts as shown.
  try {
    KestImage1->Update();
  } catch (Exception& E) {
    E.SetMessage(FileErrorText(Name, E));
    HandleCurrentException();
  } catch (...) {
    HandleCurrentException();
  }
}

void TForm1::ShowFileFacts() {
  const std::string& Name = FFiles[static_cast<std::size_t>(FFileIndex)];
  TFileFacts Facts{ExtractFileName(Name), FFileIndex, static_cast<std::int32_t>(FFiles.size()), -1, -1, -1};
  if (!FLoadFailed) {
    Facts.Width = KestImage1->Picture()->Width();
    Facts.Height = KestImage1->Picture()->Height();
    const QFileInfo Info(QString::fromStdString(Name));
    if (Info.exists()) Facts.Bytes = Info.size();
  }
  StatusBar->SetPanelText(1, Facts.Name);
  ShowFacts(*StatusBar, Facts);
  SetCaption(WindowTitle(Facts));
  UpdateNavigation();
}

void TForm1::SkipVanished(std::int32_t Index) {
  const std::string Gone = ExtractFileName(FFiles[static_cast<std::size_t>(Index)]);
  // Stepping back goes on to the file before it, stepping forward to the one
  // that takes its place.
  const bool Back = Index < FFileIndex;
  FFiles.erase(FFiles.begin() + Index);
  if (FFileIndex > Index) --FFileIndex;
  const auto Last = static_cast<std::int32_t>(FFiles.size()) - 1;
  const std::int32_t Next = std::clamp(Back ? Index - 1 : Index, 0, Last);
  if (Next == FFileIndex)
    ShowFileFacts();  // the shown file stays, at its new position
  else
    ShowFile(Next);
  StatusBar->SetPanelText(1, Format("\"%s\" is gone: skipped", {Gone}));
}

void TForm1::WatchFolder(bool On) {
  FWatcher.reset();
  if (!On || FFiles.empty()) return;
  // The list holds the pictures of one folder.
  const QString Folder = QFileInfo(QString::fromStdString(FFiles.front())).absolutePath();
  FWatcher = std::make_unique<QFileSystemWatcher>(QStringList{Folder});
  QObject::connect(FWatcher.get(), &QFileSystemWatcher::directoryChanged, FWatcher.get(), [this] { FolderChanged(); });
}

std::string TForm1::WatchedFolder() const {
  const QStringList Folders = FWatcher ? FWatcher->directories() : QStringList();
  return Folders.isEmpty() ? std::string() : Folders.front().toStdString();
}

void TForm1::FolderChanged() {
  if (FFileIndex < 0 || FFileIndex >= static_cast<std::int32_t>(FFiles.size())) return;
  // The folder's pictures with the file shown among them, also when it is
  // gone: it stays shown, and stepping goes on from its place.
  TPictureSet Set = PicturesBeside(FFiles[static_cast<std::size_t>(FFileIndex)]);
  FFiles = std::move(Set.Files);
  FFileIndex = Set.Start;
  ShowFileFacts();
}

void TForm1::FileOpen1Execute(TObject*) {
  // The dialog starts where the picture shown lies, or in the user's pictures.
  const std::string Shown =
      FFileIndex >= 0 && FFileIndex < static_cast<std::int32_t>(FFiles.size()) ? FFiles[FFileIndex] : std::string();
  const QString Kept = QString::fromStdString(FOpenFolder);
  const QString Folder = !Shown.empty() ? QFileInfo(QString::fromStdString(Shown)).absolutePath()
                         : !Kept.isEmpty() && QDir(Kept).exists()
                             ? Kept
                             : QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  OpenPictureDialog->SetInitialDir(QDir(Folder).exists() ? Folder.toStdString() : std::string());
  if (!OpenPictureDialog->Execute()) return;
  FOpenFolder = QFileInfo(QString::fromStdString(OpenPictureDialog->FileName())).absolutePath().toStdString();
  // Names typed that no format reads are reported, not stepped over later.
  std::vector<std::string> Pictures;
  std::string Others;
  for (const std::string& F : OpenPictureDialog->SelectedFiles().ToVector()) {
    if (FindClassOfFile(F) || QFileInfo(QString::fromStdString(F)).isDir())
      Pictures.push_back(F);
    else
      Others += (Others.empty() ? "\"" : ", \"") + ExtractFileName(F) + "\"";
  }
  OpenFiles(Pictures);
  if (!Others.empty()) throw EInvalidGraphic(Others + " not shown: not a picture of a kind this program reads");
}

// ---------------------------------------------------------------------------
// Settings kept between runs

void TForm1::RestoreSettings() {
  const TViewerState S = ReadViewerState();
  if (S.Bounds.Right > S.Bounds.Left) {
    // Showing the window keeps it within the screen's available area.
    SetPosition(poDesigned);
    SetBounds(S.Bounds.Left, S.Bounds.Top, S.Bounds.Right - S.Bounds.Left, S.Bounds.Bottom - S.Bounds.Top);
  }
  FNormalBounds = BoundsRect();
  if (S.Maximized) SetWindowState(wsMaximized);
  FZoomOnOpen->SetOpenZoom(S.OpenZoom);
  if (S.Smooth != Smooth->Checked()) SmoothExecute(this);
  tbLock->SetDown(S.LockZoom);
  LockZoomExecute(this);
  tbResize->SetDown(S.Mode == smResize);
  tbStretch->SetDown(S.Mode == smStretch);
  KestImage1->SetScaleMode(S.Mode);
  ShowModes();
  FOpenFolder = S.OpenFolder;
  if (!FKeepSettings) {
    FKeepSettings = true;
    OnClose = [this](TObject*) { WriteViewerState(CurrentSettings()); };
  }
}

TViewerState TForm1::CurrentSettings() const {
  TViewerState S;
  S.Maximized = WindowState() == wsMaximized;
  S.Bounds = WindowState() == wsNormal && !FFullScreen ? BoundsRect() : FNormalBounds;
  S.OpenZoom = FZoomOnOpen->OpenZoom();
  S.Smooth = KestImage1->Resampling() == rsSmooth;
  S.LockZoom = KestImage1->LockScale();
  S.Mode = KestImage1->ScaleMode();
  const std::string Shown =
      FFileIndex >= 0 && FFileIndex < static_cast<std::int32_t>(FFiles.size()) ? FFiles[FFileIndex] : std::string();
  S.OpenFolder = Shown.empty() ? FOpenFolder : QFileInfo(QString::fromStdString(Shown)).absolutePath().toStdString();
  return S;
}

void TForm1::FormDropFiles(TObject*, const std::vector<std::string>& Names) { OpenFiles(Names); }

void TForm1::FileFirstExecute(TObject*) { ShowFile(0); }
void TForm1::FilePriorExecute(TObject*) { ShowFile(FFileIndex - 1); }
void TForm1::FileNextExecute(TObject*) { ShowFile(FFileIndex + 1); }
void TForm1::FileLastExecute(TObject*) { ShowFile(static_cast<std::int32_t>(FFiles.size()) - 1); }

void TForm1::KestImage1MouseWheelDown(TObject*, TShiftState, TPoint, bool& Handled) {
  ShowFile(FFileIndex + 1);
  Handled = true;
}

void TForm1::KestImage1MouseWheelUp(TObject*, TShiftState, TPoint, bool& Handled) {
  ShowFile(FFileIndex - 1);
  Handled = true;
}
