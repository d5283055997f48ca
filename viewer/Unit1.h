// The viewer's main window: the image view with a tool bar of zoom and file
// actions, a zoom combo box, a status bar and a link to the project's home
// page; the picture-open dialog and the stepping through the chosen files.
#pragma once

#include <cstdint>
#include <string>

#include "KestImage/KestImage.h"
#include "picture/OpenPictureDialog.h"
#include "toolkit/ActnList.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ImgList.h"
#include "toolkit/StdCtrls.h"

// The address the link label opens: the project's home page.
extern const char* const HomePageUrl;

class TForm1 : public TForm {
 public:
  // Builds the window from its stored layout.
  explicit TForm1(TComponent* AOwner);

  // The components of the layout, by their names.
  TLabel* Label1 = nullptr;
  TKestImage* KestImage1 = nullptr;
  TToolBar* ToolBar1 = nullptr;
  TToolButton* ToolButton1 = nullptr;
  TToolButton* ToolButton3 = nullptr;
  TToolButton* ToolButton11 = nullptr;
  TToolButton* ToolButton8 = nullptr;
  TToolButton* ToolButton10 = nullptr;
  TPanel* Panel1 = nullptr;
  TLabel* Label2 = nullptr;
  TComboBox* ComboBox1 = nullptr;
  TToolButton* tbLock = nullptr;
  TToolButton* ToolButton4 = nullptr;
  TToolButton* tbResize = nullptr;
  TToolButton* tbStretch = nullptr;
  TToolButton* ToolButton17 = nullptr;
  TToolButton* ToolButton5 = nullptr;
  TToolButton* ToolButton6 = nullptr;
  TToolButton* ToolButton7 = nullptr;
  TToolButton* ToolButton12 = nullptr;
  TStatusBar* StatusBar = nullptr;
  TActionList* ActionList1 = nullptr;
  TAction* FileOpen1 = nullptr;
  TAction* LockZoom = nullptr;
  TAction* ZoomIn = nullptr;
  TAction* ZoomOut = nullptr;
  TAction* BestFit = nullptr;
  TAction* FileFirst = nullptr;
  TAction* FilePrior = nullptr;
  TAction* FileNext = nullptr;
  TAction* FileLast = nullptr;
  TAction* Stretch = nullptr;
  TAction* Resize = nullptr;
  TImageList* ImageList1 = nullptr;
  TOpenPictureDialog* OpenPictureDialog = nullptr;

  // Shows the file at Index of the dialog's selection: nothing for the index
  // already requested or one outside the list; otherwise the index moves
  // first, then the file loads (a failure leaves everything else as it was and
  // passes on), then the status bar and the navigation actions follow.
  void ShowFile(std::int32_t Index);
  std::int32_t FileIndex() const { return FFileIndex; }

  // Handlers bound by the layout.
  void KestImage1ScaleChange(TObject* Sender);
  void ComboBox1Click(TObject* Sender);
  void ComboBox1KeyPress(TObject* Sender, char& Key);
  void ZoomInExecute(TObject* Sender);
  void ZoomOutExecute(TObject* Sender);
  void BestFitExecute(TObject* Sender);
  void StretchExecute(TObject* Sender);
  void ResizeExecute(TObject* Sender);
  void LockZoomExecute(TObject* Sender);
  void Label1Click(TObject* Sender);
  void FileOpen1Execute(TObject* Sender);
  void FileFirstExecute(TObject* Sender);
  void FilePriorExecute(TObject* Sender);
  void FileNextExecute(TObject* Sender);
  void FileLastExecute(TObject* Sender);
  void KestImage1MouseWheelDown(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  void KestImage1MouseWheelUp(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  // A decode's progress: the percent beside the file name while it runs.
  void KestImage1Progress(TProgressStage Stage, std::uint8_t Percent);

 private:
  void RegisterHandlers();
  void FindComponents();

  std::int32_t FFileIndex = 0;
  // The name the file panel shows.
  std::string FFileName;
};

// The window's stored layout (text of our layout format).
std::string_view Form1Layout();

// Start-up of the viewer's units: the toolkit's classes and the image view's
// unit (its cursors); shutdown undoes what needs undoing.
void InitializeViewerUnits();
void FinalizeViewerUnits();
