#include "toolkit/QtPresenter_p.h"

#include <cmath>

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>

#include "toolkit/Exceptions.h"

TShiftState ShiftFromQt(Qt::KeyboardModifiers M, Qt::MouseButtons B) {
  TShiftState S;
  if (M & Qt::ShiftModifier) S.Include(ssShift);
  if (M & Qt::AltModifier) S.Include(ssAlt);
  if (M & Qt::ControlModifier) S.Include(ssCtrl);
  if (B & Qt::LeftButton) S.Include(ssLeft);
  if (B & Qt::RightButton) S.Include(ssRight);
  if (B & Qt::MiddleButton) S.Include(ssMiddle);
  return S;
}

TControl::TWheelTurn WheelTurnFromQt(const QWheelEvent& E) {
  return TControl::TWheelTurn{TPoint{E.angleDelta().x(), E.angleDelta().y()},
                              TPoint{E.pixelDelta().x(), E.pixelDelta().y()}};
}

std::uint16_t VirtualKeyFromQt(int K, Qt::KeyboardModifiers M) {
  if (M & Qt::KeypadModifier) {
    if (K >= Qt::Key_0 && K <= Qt::Key_9) return static_cast<std::uint16_t>(VK_NUMPAD0 + (K - Qt::Key_0));
    switch (K) {
      case Qt::Key_Asterisk: return VK_MULTIPLY;
      case Qt::Key_Plus: return VK_ADD;
      case Qt::Key_Minus: return VK_SUBTRACT;
      case Qt::Key_Slash: return VK_DIVIDE;
      case Qt::Key_Period:
      case Qt::Key_Comma: return VK_DECIMAL;
      case Qt::Key_Enter: return VK_RETURN;
      default: break;
    }
  }
  if (K >= Qt::Key_A && K <= Qt::Key_Z) return static_cast<std::uint16_t>(K);
  if (K >= Qt::Key_0 && K <= Qt::Key_9) return static_cast<std::uint16_t>(K);
  if (K >= Qt::Key_F1 && K <= Qt::Key_F24) return static_cast<std::uint16_t>(VK_F1 + (K - Qt::Key_F1));
  switch (K) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Plus:
    case Qt::Key_Equal: return VK_OEM_PLUS;
    case Qt::Key_Minus: return VK_OEM_MINUS;
    case Qt::Key_Asterisk: return '8';
    default: return 0;
  }
}

namespace {

// Runs a handler; an exception that leaves it goes to the application's handler.
template <class F>
void Guarded(F&& Fn) {
  try {
    Fn();
  } catch (...) {
    HandleCurrentException();
  }
}

int GPaintDepth = 0;

// Counts the paint events of toolkit windows under way.
struct TPaintDepth {
  TPaintDepth() { ++GPaintDepth; }
  ~TPaintDepth() { --GPaintDepth; }
  TPaintDepth(const TPaintDepth&) = delete;
  TPaintDepth& operator=(const TPaintDepth&) = delete;
};

TMouseButton ButtonFromQt(Qt::MouseButton B) {
  if (B == Qt::RightButton) return mbRight;
  if (B == Qt::MiddleButton) return mbMiddle;
  return mbLeft;
}

}  // namespace

bool PresenterPainting() { return GPaintDepth > 0; }

QPoint ToClientPixels(QPointF P, double Ratio) {
  if (Ratio == 1) return P.toPoint();
  // The device pixel under the position: Qt's logical positions may fall between pixels.
  return QPoint(static_cast<int>(std::floor(P.x() * Ratio)), static_cast<int>(std::floor(P.y() * Ratio)));
}

QRegion ToWidgetUnits(const QRegion& R, double Ratio) {
  if (Ratio == 1) return R;
  QRegion Out;
  for (const QRect& A : R) {
    const int L = static_cast<int>(std::floor(A.left() / Ratio)), T = static_cast<int>(std::floor(A.top() / Ratio));
    const int Rt = static_cast<int>(std::ceil((A.right() + 1) / Ratio));
    const int B = static_cast<int>(std::ceil((A.bottom() + 1) / Ratio));
    Out += QRect(L, T, Rt - L, B - T);
  }
  return Out;
}

// ---------------------------------------------------------------------------
// TWindowWidget

TWindowWidget::TWindowWidget(TWinControl* Control, QWidget* ParentWidget, bool TopLevel)
    : QWidget(ParentWidget), FControl(Control), FTopLevel(TopLevel) {
  FClient = new TClientWidget(Control, this);
  FHorz = new QScrollBar(Qt::Horizontal, this);
  FVert = new QScrollBar(Qt::Vertical, this);
  for (int B : {SB_HORZ, SB_VERT}) {
    QScrollBar* S = Bar(B);
    S->setFocusPolicy(Qt::NoFocus);
    S->hide();
    connect(S, &QAbstractSlider::actionTriggered, this, [this, B](int Action) { BarAction(B, Action); });
    connect(S, &QAbstractSlider::sliderReleased, this, [this, B] { BarReleased(B); });
  }
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TWindowWidget::~TWindowWidget() {
  if (FControl && FControl->FWindow && FControl->FWindow->Widget == this) FControl->FWindow->Widget.clear();
}

void TWindowWidget::LayoutFromModel() {
  if (!FControl || !FControl->FWindow) return;
  FLayingOut = true;
  auto& Wn = *FControl->FWindow;
  const TRect F = FControl->CurrentFrame();
  // The widgets are placed in Qt's logical units, those of the bounds.
  const int Cw = Wn.LayoutClient.width(), Ch = Wn.LayoutClient.height();
  const bool H = Wn.Bars[SB_HORZ].Visible, V = Wn.Bars[SB_VERT].Visible;
  const bool LeftBar = FControl->UseRightToLeftScrollBar();
  if (FTopLevel) {
    // The window manager draws the frame: the widget is the client area.
    if (size() != QSize(Cw + (V ? ScrollBarThickness : 0), Ch + (H ? ScrollBarThickness : 0)))
      resize(Cw + (V ? ScrollBarThickness : 0), Ch + (H ? ScrollBarThickness : 0));
  } else {
    setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
  }
  const int Ox = FTopLevel ? 0 : F.Left, Oy = FTopLevel ? 0 : F.Top;
  const int ClientX = Ox + (V && LeftBar ? ScrollBarThickness : 0);
  FClient->setGeometry(ClientX, Oy, Cw, Ch);
  FVert->setGeometry(LeftBar ? Ox : ClientX + Cw, Oy, ScrollBarThickness, Ch);
  FHorz->setGeometry(ClientX, Oy + Ch, Cw, ScrollBarThickness);
  FHorz->setLayoutDirection(LeftBar ? Qt::RightToLeft : Qt::LeftToRight);
  SyncBar(SB_HORZ);
  SyncBar(SB_VERT);
  FLayingOut = false;
  update();
}

void TWindowWidget::SyncBar(int B) {
  if (!FControl || !FControl->FWindow) return;
  const auto& S = FControl->FWindow->Bars[B];
  QScrollBar* Q = Bar(B);
  const QSignalBlocker Block(Q);
  const std::int64_t Page = std::max<std::int64_t>(S.Page, 1);
  const std::int64_t Top = std::max<std::int64_t>(S.Min, std::int64_t{S.Max} - Page + 1);
  Q->setRange(S.Min, static_cast<int>(Top));
  Q->setPageStep(static_cast<int>(std::min<std::int64_t>(Page, INT32_MAX)));
  Q->setSingleStep(1);
  if (!Q->isSliderDown()) Q->setValue(S.Pos);
  else Q->setSliderPosition(S.Pos);
  Q->setEnabled(S.DisabledArrows != ESB_DISABLE_BOTH);
  Q->setVisible(S.Visible);
}

void TWindowWidget::BarAction(int B, int Action) {
  if (!FControl || !FControl->FWindow) return;
  int Code = -1;
  switch (Action) {
    case QAbstractSlider::SliderSingleStepAdd: Code = SB_LINEDOWN; break;
    case QAbstractSlider::SliderSingleStepSub: Code = SB_LINEUP; break;
    case QAbstractSlider::SliderPageStepAdd: Code = SB_PAGEDOWN; break;
    case QAbstractSlider::SliderPageStepSub: Code = SB_PAGEUP; break;
    case QAbstractSlider::SliderToMinimum: Code = SB_TOP; break;
    case QAbstractSlider::SliderToMaximum: Code = SB_BOTTOM; break;
    case QAbstractSlider::SliderMove: {
      auto& S = FControl->FWindow->Bars[B];
      S.Tracking = true;
      S.TrackPos = Bar(B)->sliderPosition();
      Code = SB_THUMBTRACK;
      break;
    }
    default: break;
  }
  QPointer<QScrollBar> Q = Bar(B);
  TWinControl* C = FControl;
  if (Code >= 0) Guarded([&] { C->Perform(B == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, static_cast<WPARAM>(Code), 0); });
  // Qt's own move is cancelled: the bar shows what the control set.
  if (Q && FControl && FControl->FWindow) {
    const QSignalBlocker Block(Q);
    Q->setSliderPosition(FControl->FWindow->Bars[B].Pos);
  }
}

void TWindowWidget::BarReleased(int B) {
  if (!FControl || !FControl->FWindow) return;
  auto& S = FControl->FWindow->Bars[B];
  if (!S.Tracking) return;
  TWinControl* C = FControl;
  const std::uint32_t Msg = B == SB_HORZ ? WM_HSCROLL : WM_VSCROLL;
  Guarded([&] { C->Perform(Msg, SB_THUMBPOSITION, 0); });
  if (FControl && FControl->FWindow) FControl->FWindow->Bars[B].Tracking = false;
  Guarded([&] { if (FControl) C->Perform(Msg, SB_ENDSCROLL, 0); });
  if (FControl && FControl->FWindow) SyncBar(B);
}

bool TWindowWidget::event(QEvent* E) {
  if (E->type() == PaintRequestEvent) {
    if (FControl && FControl->FWindow) {
      FControl->FWindow->PaintPosted = false;
      TWinControl* C = FControl;
      Guarded([C] { C->PaintCycle(); });
    }
    return true;
  }
  if (E->type() == PostedMessageEvent) {
    if (FControl) {
      TMessage M = static_cast<TPostedMessage*>(E)->Message;
      TWinControl* C = FControl;
      Guarded([C, &M] { C->WndProc(M); });
    }
    return true;
  }
  return QWidget::event(E);
}

void TWindowWidget::paintEvent(QPaintEvent*) {
  if (!FControl || !FControl->FWindow) return;
  const TPaintDepth Depth;
  QPainter P(this);
  const auto& Wn = *FControl->FWindow;
  const QColor Face(240, 240, 240);
  if (!FTopLevel) {
    const TRect F = FControl->CurrentFrame();
    if (F.Left == ClientEdgeWidth && (Wn.ExStyle & WS_EX_CLIENTEDGE)) {
      // The sunken edge: shadow above and left, light below and right.
      const int W = width(), H = height();
      P.fillRect(0, 0, W, 1, QColor(160, 160, 160));
      P.fillRect(0, 0, 1, H, QColor(160, 160, 160));
      P.fillRect(1, 1, W - 2, 1, QColor(105, 105, 105));
      P.fillRect(1, 1, 1, H - 2, QColor(105, 105, 105));
      P.fillRect(0, H - 1, W, 1, QColor(255, 255, 255));
      P.fillRect(W - 1, 0, 1, H, QColor(255, 255, 255));
      P.fillRect(1, H - 2, W - 2, 1, Face);
      P.fillRect(W - 2, 1, 1, H - 2, Face);
    } else if (F.Left == 1) {
      P.setPen(QColor(100, 100, 100));
      P.drawRect(0, 0, width() - 1, height() - 1);
    }
  }
  // The square where both bars meet.
  if (Wn.Bars[SB_HORZ].Visible && Wn.Bars[SB_VERT].Visible)
    P.fillRect(QRect(FVert->x(), FHorz->y(), ScrollBarThickness, ScrollBarThickness), Face);
}

void TWindowWidget::resizeEvent(QResizeEvent* E) {
  QWidget::resizeEvent(E);
  if (FLayingOut || !FControl || !FControl->FWindow) return;
  // A size given by Qt (a window manager or a host's layout) becomes the control's size.
  TWinControl* C = FControl;
  const QSize S = E->size();
  Guarded([&] {
    if (FTopLevel) {
      const TRect F = C->CurrentFrame();
      const auto& Wn = *C->FWindow;
      const int Bw = Wn.Bars[SB_VERT].Visible ? ScrollBarThickness : 0, Bh = Wn.Bars[SB_HORZ].Visible ? ScrollBarThickness : 0;
      C->SetBounds(C->Left(), C->Top(), S.width() - Bw + F.Left + F.Right, S.height() - Bh + F.Top + F.Bottom);
    } else {
      C->SetBounds(C->Left(), C->Top(), S.width(), S.height());
    }
  });
}

// ---------------------------------------------------------------------------
// TClientWidget

TClientWidget::TClientWidget(TWinControl* Control, TWindowWidget* Frame) : QWidget(Frame), FControl(Control) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

void TClientWidget::paintEvent(QPaintEvent* E) {
  if (!FControl || !FControl->FWindow) return;
  const TPaintDepth Depth;
  TWinControl* C = FControl;
  // Whatever is still invalid is painted before it is shown.
  if (!C->FWindow->Invalid.isEmpty()) Guarded([C] { C->PaintCycle(); });
  if (!FControl || !FControl->FWindow) return;
  QPainter P(this);
  P.setCompositionMode(QPainter::CompositionMode_Source);
  auto& Wn = *FControl->FWindow;
  Wn.Pixels();
  const QRect T = E->rect();
  if (Wn.Ratio == 1) {
    P.drawImage(T, Wn.Surface, T);
    return;
  }
  // The surface holds device pixels: each lands on one pixel of the screen.
  const double R = Wn.Ratio;
  P.drawImage(QRectF(T), Wn.Surface, QRectF(T.x() * R, T.y() * R, T.width() * R, T.height() * R));
}

bool TClientWidget::event(QEvent* E) {
  const bool Result = QWidget::event(E);
  // Another screen may have another device pixel ratio.
  if (FControl && E->type() == QEvent::ScreenChangeInternal) {
    TWinControl* C = FControl;
    Guarded([C] { C->UpdatePixelRatio(); });
  }
  return Result;
}

void TClientWidget::mousePressEvent(QMouseEvent* E) {
  if (!FControl) return;
  TWinControl* C = FControl;
  const TShiftState S = ShiftFromQt(E->modifiers(), E->buttons());
  const QPoint P = ToClientPixels(E->position(), C->ClientPixelRatio());
  Guarded([&] { C->InputMouseDown(ButtonFromQt(E->button()), S, P.x(), P.y()); });
}

void TClientWidget::mouseDoubleClickEvent(QMouseEvent* E) {
  if (!FControl) return;
  TWinControl* C = FControl;
  const TShiftState S = ShiftFromQt(E->modifiers(), E->buttons());
  const QPoint P = ToClientPixels(E->position(), C->ClientPixelRatio());
  Guarded([&] { C->InputMouseDown(ButtonFromQt(E->button()), S, P.x(), P.y(), true); });
}

void TClientWidget::mouseMoveEvent(QMouseEvent* E) {
  if (!FControl) return;
  TWinControl* C = FControl;
  const TShiftState S = ShiftFromQt(E->modifiers(), E->buttons());
  const QPoint P = ToClientPixels(E->position(), C->ClientPixelRatio());
  Guarded([&] { C->InputMouseMove(S, P.x(), P.y()); });
}

void TClientWidget::mouseReleaseEvent(QMouseEvent* E) {
  if (!FControl) return;
  TWinControl* C = FControl;
  const TShiftState S = ShiftFromQt(E->modifiers(), E->buttons());
  const QPoint P = ToClientPixels(E->position(), C->ClientPixelRatio());
  Guarded([&] { C->InputMouseUp(ButtonFromQt(E->button()), S, P.x(), P.y()); });
}

void TClientWidget::wheelEvent(QWheelEvent* E) {
  if (!FControl) return;
  // A wheel turn goes to the control with the keyboard focus, wherever the pointer is.
  TWinControl* Target = Screen().ActiveControl() ? Screen().ActiveControl() : FControl;
  const TShiftState S = ShiftFromQt(E->modifiers(), E->buttons());
  const QPoint G = E->globalPosition().toPoint();
  const TControl::TWheelTurn Turn = WheelTurnFromQt(*E);
  if (Turn.Angle == TPoint{} && Turn.Pixels == TPoint{}) return;
  Guarded([&] { Target->InputWheelTurn(S, Turn, TPoint{G.x(), G.y()}); });
  E->accept();
}

void TClientWidget::keyPressEvent(QKeyEvent* E) {
  if (!FControl) return;
  TWinControl* C = FControl;
  if (E->key() == Qt::Key_Menu) {
    // The menu key asks for the context menu of the focused control.
    Guarded([C] { C->InputContextPopup(TPoint{-1, -1}); });
    return;
  }
  const std::uint16_t Vk = VirtualKeyFromQt(E->key(), E->modifiers());
  const TShiftState S = ShiftFromQt(E->modifiers(), QApplication::mouseButtons());
  Guarded([&] {
    if (Vk) C->InputKeyDown(Vk, S);
    const QString T = E->text();
    if (FControl && T.size() == 1 && T[0].unicode() < 256 && T[0].unicode() != 0)
      C->InputKeyPress(static_cast<char>(T[0].unicode()));
  });
}

void TClientWidget::keyReleaseEvent(QKeyEvent* E) {
  if (!FControl || E->isAutoRepeat()) return;
  TWinControl* C = FControl;
  const std::uint16_t Vk = VirtualKeyFromQt(E->key(), E->modifiers());
  const TShiftState S = ShiftFromQt(E->modifiers(), QApplication::mouseButtons());
  if (Vk) Guarded([&] { C->InputKeyUp(Vk, S); });
}

void TClientWidget::contextMenuEvent(QContextMenuEvent* E) {
  // The keyboard's request arrives as the menu key (keyPressEvent).
  if (!FControl || E->reason() == QContextMenuEvent::Keyboard) return;
  TWinControl* C = FControl;
  const QPoint P = ToClientPixels(QPointF(E->pos()), C->ClientPixelRatio());
  bool Taken = false;
  Guarded([&] { Taken = C->InputContextPopup(TPoint{P.x(), P.y()}); });
  E->setAccepted(Taken);
}

void TClientWidget::focusInEvent(QFocusEvent* E) {
  QWidget::focusInEvent(E);
  if (FControl) {
    TWinControl* C = FControl;
    Guarded([C] { C->FocusChanged(true); });
  }
}
