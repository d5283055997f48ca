// The file-open dialog: Qt's own (non-native) file dialog with the program's
// filter, options and an optional pane of controls to the right of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/Classes.h"

class QFileDialog;
class TWinControl;

enum TOpenOption : std::uint8_t {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
  ofNoNetworkButton,
  ofNoLongNames,
  ofOldStyleDialog,
  ofNoDereferenceLinks,
  ofEnableIncludeNotify,
  ofEnableSizing,
};
using TOpenOptions = TSet<TOpenOption>;

// Converts a filter of description and pattern-list pairs ("Bitmaps
// (*.bmp)|*.bmp|...") to Qt's name filters ("Bitmaps (*.bmp)"): the patterns in
// parentheses, separated by blanks, in place of the description's own list.
std::vector<std::string> QtNameFilters(const std::string& Filter);

class TOpenDialog : public TComponent {
  KEST_CLASS(TOpenDialog)
 public:
  explicit TOpenDialog(TComponent* AOwner);
  ~TOpenDialog() override;

  std::string Filter() const { return FFilter; }
  void SetFilter(const std::string& F) { FFilter = F; }
  // The filter entry in use, counted from 1.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int I) { FFilterIndex = I; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions O) { FOptions = O; }
  std::string Title() const { return FTitle; }
  void SetTitle(const std::string& T) { FTitle = T; }
  std::string InitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& D) { FInitialDir = D; }
  // Whether the detail view's columns take the width of their content each
  // time a folder is listed (off: the dialog's own widths).
  bool ColumnsFitContent() const { return FColumnsFitContent; }
  void SetColumnsFitContent(bool V) { FColumnsFitContent = V; }
  // The first chosen file of the last confirmed run.
  std::string FileName() const { return FFileName; }
  // The full paths chosen in the last confirmed run, in the dialog's order;
  // emptied when a run starts, so a cancelled run leaves it empty.
  const TStringList& SelectedFiles() const { return FSelectedFiles; }

  // Runs the dialog modally, centred horizontally on the monitor of the active
  // form with its top at a third of the free height; true when the user chose.
  virtual bool Execute();
  // While a run is open: the Qt dialog (tests drive it) and the file its
  // selection points at.
  QFileDialog* Dialog() const { return FDialog; }
  std::string CurrentFileName() const { return FCurrentFileName; }
  // The monitor the dialog runs on (or would run on), in screen pixels.
  TRect MonitorBounds() const;

  TNotifyEvent OnShow;
  TNotifyEvent OnClose;
  TNotifyEvent OnSelectionChange;

 protected:
  virtual void DoShow();
  virtual void DoClose();
  virtual void DoSelectionChange();
  // A pane shown to the right of the standard controls over the dialog's full height.
  virtual TWinControl* ExtraPane() { return nullptr; }
  void DefineProperties(TPropList& L) const override;

 private:
  std::string FFilter;
  int FFilterIndex = 1;
  TOpenOptions FOptions{ofHideReadOnly, ofEnableSizing};
  bool FColumnsFitContent = false;
  std::string FTitle, FInitialDir, FFileName, FCurrentFileName;
  TStringList FSelectedFiles;
  QFileDialog* FDialog = nullptr;
};

void RegisterDialogsClasses();
