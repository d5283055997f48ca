// The viewer's main window: the image view with a tool bar of zoom and file
// actions, a zoom combo box, a status bar and a link to the project's home
// page; the picture-open dialog and the stepping through the chosen files.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KestImage/KestImage.h"
#include "picture/OpenPictureDialog.h"
#include "toolkit/ActnList.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"
#include "viewer/ViewerSettings.h"
#include "viewer/ZoomOnOpen.h"

class QFileSystemWatcher;

// The address the link label opens: the project's home page.
extern const char* const HomePageUrl;

class TForm1 : public TForm {
 public:
  // Builds the window from its stored layout.
  explicit TForm1(TComponent* AOwner);
  ~TForm1() override;

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
  TToolButton* ToolButton18 = nullptr;
  TToolButton* tbSmooth = nullptr;
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
  TAction* ActualSize = nullptr;
  TAction* FullScreen = nullptr;
  TAction* Smooth = nullptr;
  TAction* EditCopy = nullptr;
  TAction* FileClose = nullptr;
  TAction* HelpAbout = nullptr;
  TImageList* ImageList1 = nullptr;
  TOpenPictureDialog* OpenPictureDialog = nullptr;
  TPopupMenu* PopupMenu1 = nullptr;

  // Opens files as a new selection: one file brings the pictures of its folder
  // (starting at that file), several files themselves, a folder its pictures. A file that fails to
  // load passes its exception on, as ShowFile does. The folder of a single
  // file or folder is watched: files added, removed or renamed there change
  // the list, the file shown keeping its place in it (also when it was itself
  // removed: it stays shown until the user steps away).
  void OpenFiles(const std::vector<std::string>& Names);
  // The files the navigation steps through.
  const std::vector<std::string>& Files() const { return FFiles; }

  // Shows the file at Index of the selection: nothing for the index already
  // requested or one outside the list; while browsing, a file of several that
  // vanished is taken out of the list and skipped; otherwise the index moves first, then
  // the file loads, choosing its format by content (a failure leaves the
  // picture, names the failed file in the title, the status bar and the
  // message, and passes on), then the status bar and the title follow. The
  // navigation actions are enabled exactly when they would move, either way.
  void ShowFile(std::int32_t Index);
  std::int32_t FileIndex() const { return FFileIndex; }
  // The folder whose changes the list follows; empty when none is.
  std::string WatchedFolder() const;

  // The window's own keys, beside the actions' shortcuts and the view's keys.
  bool IsShortCut(std::uint16_t Key, TShiftState Shift) override;
  bool IsFullScreen() const { return FFullScreen; }
  // Copies the picture as the view shows it to the clipboard.
  void CopyPicture();
  // The zoom each opened picture comes at, and the kind of zoom kept.
  TZoomOnOpen& ZoomOnOpen() { return *FZoomOnOpen; }
  // Takes the settings kept from the last run (the window's place, the zoom
  // on open, smoothing, Lock Zoom, Resize or Stretch, the dialog's folder);
  // from then on they are kept again when the window closes.
  void RestoreSettings();
  TViewerState CurrentSettings() const;
  // How long a decode runs before the busy cursor and its percent show.
  void SetBusyDelay(std::chrono::milliseconds D) { FBusyDelay = D; }

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
  // Turns smooth resampling of pictures shown smaller than their size on or
  // off; the action's Checked and the tool-bar button follow.
  void SmoothExecute(TObject* Sender);
  void Label1Click(TObject* Sender);
  void FileOpen1Execute(TObject* Sender);
  void FileFirstExecute(TObject* Sender);
  void FilePriorExecute(TObject* Sender);
  void FileNextExecute(TObject* Sender);
  void FileLastExecute(TObject* Sender);
  void KestImage1MouseWheelDown(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  void KestImage1MouseWheelUp(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  void KestImage1MouseWheel(TObject* Sender, TShiftState Shift, int WheelDelta, TPoint MousePos, bool& Handled);
  void KestImage1Progress(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                          const TRect& R, const std::string& Msg);
  void ActualSizeExecute(TObject* Sender);
  void FullScreenExecute(TObject* Sender);
  void EditCopyExecute(TObject* Sender);
  void FileCloseExecute(TObject* Sender);
  void HelpAboutExecute(TObject* Sender);
  void FormDropFiles(TObject* Sender, const std::vector<std::string>& Names);

 private:
  void RegisterHandlers();
  void FindComponents();
  void UpdateNavigation();
  // Takes a file that vanished out of the selection and shows the next one in
  // the direction of travel, with a note in the status bar.
  void SkipVanished(std::int32_t Index);
  // Watches the folder of the files listed, or nothing.
  void WatchFolder(bool On);
  // Lists the watched folder again around the file shown.
  void FolderChanged();
  // Binds the zoom-on-open entries of the context menu to the setting.
  void BindOpenZoomMenu();
  // The title and the status bar for the file shown.
  void ShowFileFacts();
  // Gives the context menu's entries the window keys of their commands, and
  // its mode entries the clicks of their tool-bar buttons.
  void ShowWindowKeysInMenu();
  void SetFullScreen(bool On);
  // Zooms one step in or out keeping the picture point under client point P in place.
  void ZoomAt(TZoomKind Kind, TPoint P);
  void ShowZoomText();
  // The check marks of Lock Zoom, Resize and Stretch, and the zoom texts.
  void ShowModes();
  // Takes back the busy cursor of a long decode.
  void EndBusy();

  std::int32_t FFileIndex = 0;
  std::vector<std::string> FFiles;
  // The file at FFileIndex could not be read: the picture shown is the one before.
  bool FLoadFailed = false;
  std::unique_ptr<QFileSystemWatcher> FWatcher;
  bool FFullScreen = false;
  // The view's distances to the client edges outside full screen.
  TRect FViewMargins;
  // Ctrl+wheel units not yet a full notch.
  int FZoomWheel = 0;
  std::chrono::milliseconds FBusyDelay{100};
  std::chrono::steady_clock::time_point FDecodeStart;
  bool FBusy = false;
  std::unique_ptr<TZoomOnOpen> FZoomOnOpen;
  // The settings are kept on closing once they were restored.
  bool FKeepSettings = false;
  // The normal window's place while it is maximised or full screen.
  TRect FNormalBounds;
  // Where the open dialog starts when no file is shown.
  std::string FOpenFolder;
};

// The window's stored layout (text of our layout format).
std::string_view Form1Layout();

// Start-up of the viewer's units: the toolkit's classes and the image view's
// unit (its cursors); shutdown undoes what needs undoing.
void InitializeViewerUnits();
void FinalizeViewerUnits();
