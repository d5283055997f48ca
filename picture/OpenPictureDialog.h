// The picture-open dialog: the file-open dialog with the registered picture
// formats as its filter and a preview pane that loads the selected file.
#pragma once

#include <memory>
#include <string>

#include "picture/Graphic.h"
#include "toolkit/Dialogs.h"
#include "toolkit/StdCtrls.h"

// Where a picture of W x H goes when it is fitted into a client area of CW x CH:
// the largest rectangle of the picture's proportions, centred. A picture with
// a zero side fills the client.
TRect FitPictureRect(std::int32_t W, std::int32_t H, std::int32_t CW, std::int32_t CH);

// Shows a picture (kept by someone else) stretched over its client area. A
// drawing that fails is reported through OnDrawError instead of being raised.
class TPictureBox : public TCustomControl {
  KEST_CLASS(TPictureBox)
 public:
  TPictureBox(TComponent* AOwner, TPicture* Picture);
  TPicture* Picture() const { return FPicture; }
  // Takes the fitted place in the parent's client area, inside Margin pixels;
  // hidden while the picture is empty.
  void FitIntoParent(int Margin = 0);

  std::function<void()> OnDrawError;

 protected:
  void Paint() override;
  // The picture is drawn at the screen's density.
  bool ClientInDevicePixels() const override { return true; }

 private:
  TPicture* FPicture;
};

// A panel whose picture box failing to draw makes it show "Invalid image".
class TSilentPaintPanel : public TPanel {
  KEST_CLASS(TSilentPaintPanel)
 public:
  using TPanel::TPanel;
};

// The filter text of one entry per graphic class with all its extensions,
// "All pictures" first and "All files" last:
// "All pictures (*.jpeg;*.jpg;*.bmp)|*.jpeg;*.jpg;*.bmp|JPEG image (*.jpeg;*.jpg)|*.jpeg;*.jpg|
//  Bitmaps (*.bmp)|*.bmp|All files (*)|*". A class is described as at its
// first registration, " Image File" shortened to " image".
std::string BuildFormatFilter();

class TOpenPictureDialog : public TOpenDialog {
  KEST_CLASS(TOpenPictureDialog)
 public:
  explicit TOpenPictureDialog(TComponent* AOwner);
  ~TOpenPictureDialog() override;

  // The preview pane and its parts, by their names.
  TPanel* PicturePanel() const { return FPicturePanel.get(); }
  TLabel* PictureLabel() const { return FPictureLabel.get(); }
  TSpeedButton* PreviewButton() const { return FPreviewButton.get(); }
  TSilentPaintPanel* PaintPanel() const { return FPaintPanel.get(); }
  TPictureBox* PaintBox() const { return FPaintBox.get(); }
  const TPicture& PreviewPicture() const { return *FPicture; }

  // The dialog as people expect it on a desktop (off by default): one filter
  // per format (BuildFormatFilter, made when the dialog runs), the file
  // list's columns sized to their content, and the size label empty while
  // there is no preview.
  bool DesktopStyle() const { return FDesktopStyle; }
  void SetDesktopStyle(bool V);
  bool Execute() override;

  // Opens the "Preview" window with a copy of the preview picture and returns
  // when it closes.
  void ShowPreview();
  // Runs while the "Preview" window is open (tests close it from here).
  TNotifyEvent OnPreviewShow;

 protected:
  void DoShow() override;
  void DoSelectionChange() override;
  TWinControl* ExtraPane() override { return FPicturePanel.get(); }

 private:
  void ShowNone();

  std::unique_ptr<TPicture> FPicture;
  std::string FRememberedName;
  bool FDesktopStyle = false;
  std::unique_ptr<TPanel> FPicturePanel;
  std::unique_ptr<TLabel> FPictureLabel;
  std::unique_ptr<TSpeedButton> FPreviewButton;
  std::unique_ptr<TSilentPaintPanel> FPaintPanel;
  std::unique_ptr<TPictureBox> FPaintBox;
};

void RegisterOpenPictureDialogClasses();
