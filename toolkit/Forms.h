// Forms (top-level windows) and the application object with its default
// exception handler.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"

class QEventLoop;
class QObject;
class TFormWatcher;

enum TWindowState : std::uint8_t { wsNormal, wsMinimized, wsMaximized, wsFullScreen };
// Files dropped on a form from another program, as full local paths.
using TDropFilesEvent = std::function<void(TObject* Sender, const std::vector<std::string>& Files)>;

enum TPosition : std::uint8_t { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                                poDesktopCenter, poMainFormCenter, poOwnerFormCenter };

// A top-level window: a caption, a frame drawn by the window manager, its
// child controls, the active control with the keyboard focus, and action
// shortcuts checked before the focused control sees a key.
class TCustomForm : public TWinControl {
  KEST_CLASS(TCustomForm)
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& C);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition P) { FPosition = P; }
  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* C);
  // The form whose window has the keyboard focus (or, without a window
  // system, the one shown last).
  bool Active() const;
  void Show();
  void Close();
  // Shows the form as a modal window and returns when it has closed, with the
  // modal result a handler set (0 when none did).
  int ShowModal();
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int R) { FModalResult = R; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool V) { FShowHint = V; }
  // Normal, minimised, maximised, or covering the whole screen without a frame.
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState S);
  // A tool window: a small caption and no entry in the task bar.
  bool ToolWindow() const { return FToolWindow; }
  void SetToolWindow(bool V) { FToolWindow = V; }
  // The resolution and text height the layout was designed at.
  int PixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int V) { FPixelsPerInch = V; }
  int TextHeight() const { return FTextHeight; }
  void SetTextHeight(int V) { FTextHeight = V; }

  // A key press offered to the form before the focused control: returns true
  // when it was a shortcut that ran.
  virtual bool IsShortCut(std::uint16_t Key, TShiftState Shift);

  TNotifyEvent OnShow;
  TNotifyEvent OnClose;
  // Assigned: the form takes files dropped on it (a list of local files; any
  // other drop is refused).
  TDropFilesEvent OnDropFiles;

 protected:
  friend class TFormWatcher;
  // The window was closed, by Close or by the window manager.
  void WindowClosed();
  void DestroyWnd() override;
  bool PreviewShortCut(std::uint16_t Key, TShiftState Shift) override { return IsShortCut(Key, Shift); }
  TRect FrameMargins(std::uint32_t Style, std::uint32_t ExStyle) const override;
  bool IsTopLevelWindow() const override { return true; }
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;
  void DefineProperties(TPropList& L) const override;

 private:
  // Keeps the window within the available area of its screen.
  void FitScreen();

  std::string FCaption;
  TPosition FPosition = poDesigned;
  TWinControl* FActiveControl = nullptr;
  bool FShowHint = false;
  TWindowState FWindowState = wsNormal;
  bool FToolWindow = false;
  int FPixelsPerInch = 96;
  int FTextHeight = 13;
  int FModalResult = 0;
  QEventLoop* FModalLoop = nullptr;
  bool FModalDone = false;
  TFormWatcher* FWatcher = nullptr;
};

class TForm : public TCustomForm {
  KEST_CLASS(TForm)
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// The form that contains a control, or null.
TCustomForm* GetParentForm(TControl* Control);
// The form whose window is active (shown last without a window system), or null.
TCustomForm* GetActiveForm();

// The application: its forms, the message loop and the default handler for
// exceptions that leave an event handler (a message box with the message; the
// loop goes on).
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  void Initialize();
  // Takes over a form; the first one becomes the main form.
  template <class T>
  T* CreateForm(std::unique_ptr<T> F) {
    T* Raw = Own(std::move(F));
    if (!FMainForm) FMainForm = Raw;
    return Raw;
  }
  TCustomForm* MainForm() const { return FMainForm; }
  // Shows the main form and runs the message loop until it closes.
  int Run();
  void ProcessMessages();
  void Terminate();
  // The application's title: the program file's name without extension,
  // unless the program names itself.
  std::string Title() const;
  void SetTitle(const std::string& T) { FTitle = T; }

  // Shows an exception's message. Tests replace the box with a recorder.
  void ShowException(const Exception& E);
  // Shows a message for the user's information (the same recorder in tests).
  void ShowMessage(const std::string& Text);
  std::function<void(const std::string& Caption, const std::string& Text)> MessageBoxHook;

 private:
  // Shows a box with the application's title, from the event loop.
  void ShowBox(bool Error, const std::string& Text);

  TCustomForm* FMainForm = nullptr;
  std::string FTitle;
  // Sends every wheel turn over a window of this program to the control with the focus.
  std::unique_ptr<QObject> FWheelRouter;
};

// The process's application object (created by the program's main).
TApplication* Application();
void SetApplication(TApplication* A);
