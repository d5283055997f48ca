// The Qt widgets that present a windowed control: a frame widget that lays out
// the client child and the two scroll bars itself (so that showing or hiding a
// bar resizes the client at once), and the client child that shows the client
// surface and turns Qt input into the control's input.
#pragma once

#include <QEvent>
#include <QScrollBar>
#include <QWidget>

#include "toolkit/Controls.h"

class QWheelEvent;

class TClientWidget;

// Qt event types used to run paint cycles and deliver posted messages.
inline const QEvent::Type PaintRequestEvent = static_cast<QEvent::Type>(QEvent::User + 101);
inline const QEvent::Type PostedMessageEvent = static_cast<QEvent::Type>(QEvent::User + 102);

class TPostedMessage : public QEvent {
 public:
  explicit TPostedMessage(const TMessage& M) : QEvent(PostedMessageEvent), Message(M) {}
  TMessage Message;
};

class TWindowWidget : public QWidget {
 public:
  TWindowWidget(TWinControl* Control, QWidget* ParentWidget, bool TopLevel);
  ~TWindowWidget() override;

  TClientWidget* Client() const { return FClient; }
  QScrollBar* Bar(int B) const { return B == SB_HORZ ? FHorz : FVert; }
  // Places the frame, bars and client from the control's model state.
  void LayoutFromModel();
  // Shows one bar's model state (signals blocked).
  void SyncBar(int B);
  void Detach() { FControl = nullptr; }
  TWinControl* Control() const { return FControl; }
  bool TopLevel() const { return FTopLevel; }

 protected:
  bool event(QEvent* E) override;
  void paintEvent(QPaintEvent* E) override;
  void resizeEvent(QResizeEvent* E) override;

 private:
  void BarAction(int B, int Action);
  void BarReleased(int B);

  TWinControl* FControl;
  bool FTopLevel;
  TClientWidget* FClient;
  QScrollBar* FHorz;
  QScrollBar* FVert;
  bool FLayingOut = false;
};

class TClientWidget : public QWidget {
 public:
  TClientWidget(TWinControl* Control, TWindowWidget* Frame);
  void Detach() { FControl = nullptr; }

 protected:
  void paintEvent(QPaintEvent* E) override;
  void mousePressEvent(QMouseEvent* E) override;
  void mouseDoubleClickEvent(QMouseEvent* E) override;
  void mouseMoveEvent(QMouseEvent* E) override;
  void mouseReleaseEvent(QMouseEvent* E) override;
  void wheelEvent(QWheelEvent* E) override;
  void keyPressEvent(QKeyEvent* E) override;
  void keyReleaseEvent(QKeyEvent* E) override;
  void focusInEvent(QFocusEvent* E) override;
  void contextMenuEvent(QContextMenuEvent* E) override;
  bool event(QEvent* E) override;

 private:
  TWinControl* FControl;
};

// The window of a windowed control: its style, its scroll bars, the pixels it
// shows and what is left to paint.
struct TWinControl::TWindow {
  std::uint32_t Style = 0;
  std::uint32_t ExStyle = 0;
  TScrollBarState Bars[2];
  QImage Surface;
  // A surface that holds nothing but the window's colour is filled with it
  // (FillPixel) only when its pixels are first wanted: sizes the window
  // passes through while it is set up then cost neither time nor memory.
  bool Unfilled = false;
  std::uint32_t FillPixel = 0;
  // Whether anything but the window's colour may have been put in the surface.
  bool Painted = false;
  QImage& Pixels() {
    if (Unfilled) {
      Surface.fill(FillPixel);
      Unfilled = false;
    }
    return Surface;
  }
  // Client pixels per unit of the bounds, and the client size in those units.
  double Ratio = 1;
  QSize LayoutClient;
  QRegion Invalid;
  bool EraseRequested = false;
  bool PaintPosted = false;
  QPointer<TWindowWidget> Widget;
};

// A client position that Qt gives in its logical units, in client pixels.
QPoint ToClientPixels(QPointF P, double Ratio);
// An area of client pixels in the client widget's logical units (all the
// units it touches).
QRegion ToWidgetUnits(const QRegion& R, double Ratio);

// Whether Qt is painting a toolkit window now: a synchronous repaint has to
// wait for the next presentation then.
bool PresenterPainting();

// Qt keyboard and mouse state to the toolkit's.
TShiftState ShiftFromQt(Qt::KeyboardModifiers M, Qt::MouseButtons B);
TControl::TWheelTurn WheelTurnFromQt(const QWheelEvent& E);
std::uint16_t VirtualKeyFromQt(int QtKey, Qt::KeyboardModifiers M);
