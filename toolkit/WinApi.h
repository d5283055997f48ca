// The classic windowing interface that controls are written against: message
// numbers, scroll-bar, virtual-key and style constants, and the window functions
// (scroll bars, moving client pixels, invalidation, messages). They act on the
// window model kept by TWinControl.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "toolkit/Types.h"

class TWinControl;
class QRegion;

// A window handle: the windowed control itself (its window must exist).
using HWND = TWinControl*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct TMessage {
  std::uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

constexpr LPARAM MakeLParam(int Lo, int Hi) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(Lo) & 0xFFFF) | ((static_cast<std::uint32_t>(Hi) & 0xFFFF) << 16));
}
constexpr int LoWord(std::uintptr_t V) { return static_cast<int>(V & 0xFFFF); }
constexpr int HiWord(std::uintptr_t V) { return static_cast<int>((V >> 16) & 0xFFFF); }

// Messages.
constexpr std::uint32_t WM_SIZE = 0x0005;
constexpr std::uint32_t WM_SETFOCUS = 0x0007;
constexpr std::uint32_t WM_KILLFOCUS = 0x0008;
constexpr std::uint32_t WM_PAINT = 0x000F;
constexpr std::uint32_t WM_ERASEBKGND = 0x0014;
constexpr std::uint32_t WM_GETDLGCODE = 0x0087;
constexpr std::uint32_t WM_KEYDOWN = 0x0100;
constexpr std::uint32_t WM_KEYUP = 0x0101;
constexpr std::uint32_t WM_CHAR = 0x0102;
constexpr std::uint32_t WM_HSCROLL = 0x0114;
constexpr std::uint32_t WM_VSCROLL = 0x0115;
constexpr std::uint32_t WM_MOUSEWHEEL = 0x020A;
constexpr std::uint32_t WM_QUERYNEWPALETTE = 0x030F;
constexpr std::uint32_t WM_PALETTECHANGED = 0x0311;
constexpr std::uint32_t WM_USER = 0x0400;
constexpr std::uint32_t CM_BASE = 0xB000;
constexpr std::uint32_t CM_BIDIMODECHANGED = CM_BASE + 60;

constexpr WPARAM SIZE_RESTORED = 0;

// Scroll bars.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_BOTH = 3;

constexpr int SB_LINEUP = 0;
constexpr int SB_LINELEFT = 0;
constexpr int SB_LINEDOWN = 1;
constexpr int SB_LINERIGHT = 1;
constexpr int SB_PAGEUP = 2;
constexpr int SB_PAGELEFT = 2;
constexpr int SB_PAGEDOWN = 3;
constexpr int SB_PAGERIGHT = 3;
constexpr int SB_THUMBPOSITION = 4;
constexpr int SB_THUMBTRACK = 5;
constexpr int SB_TOP = 6;
constexpr int SB_LEFT = 6;
constexpr int SB_BOTTOM = 7;
constexpr int SB_RIGHT = 7;
constexpr int SB_ENDSCROLL = 8;

constexpr unsigned ESB_ENABLE_BOTH = 0;
constexpr unsigned ESB_DISABLE_LTUP = 1;
constexpr unsigned ESB_DISABLE_RTDN = 2;
constexpr unsigned ESB_DISABLE_BOTH = 3;

constexpr unsigned SIF_RANGE = 0x01;
constexpr unsigned SIF_PAGE = 0x02;
constexpr unsigned SIF_POS = 0x04;
constexpr unsigned SIF_DISABLENOSCROLL = 0x08;
constexpr unsigned SIF_TRACKPOS = 0x10;
constexpr unsigned SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

struct SCROLLINFO {
  unsigned cbSize = sizeof(SCROLLINFO);
  unsigned fMask = 0;
  int nMin = 0;
  int nMax = 0;
  unsigned nPage = 0;
  int nPos = 0;
  int nTrackPos = 0;
};
static_assert(sizeof(SCROLLINFO) == 28);

// ScrollWindowEx flags.
constexpr unsigned SW_SCROLLCHILDREN = 0x01;
constexpr unsigned SW_INVALIDATE = 0x02;
constexpr unsigned SW_ERASE = 0x04;

// Window styles.
constexpr std::uint32_t WS_CHILD = 0x40000000;
constexpr std::uint32_t WS_VISIBLE = 0x10000000;
constexpr std::uint32_t WS_CLIPSIBLINGS = 0x04000000;
constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000;
constexpr std::uint32_t WS_BORDER = 0x00800000;
constexpr std::uint32_t WS_VSCROLL = 0x00200000;
constexpr std::uint32_t WS_HSCROLL = 0x00100000;
constexpr std::uint32_t WS_TABSTOP = 0x00010000;
constexpr std::uint32_t WS_EX_CLIENTEDGE = 0x00000200;
constexpr std::uint32_t WS_EX_RIGHT = 0x00001000;
constexpr std::uint32_t WS_EX_RTLREADING = 0x00002000;
constexpr std::uint32_t WS_EX_LEFTSCROLLBAR = 0x00004000;

// Dialog codes.
constexpr LRESULT DLGC_WANTARROWS = 0x0001;
constexpr LRESULT DLGC_WANTTAB = 0x0002;
constexpr LRESULT DLGC_WANTALLKEYS = 0x0004;
constexpr LRESULT DLGC_WANTCHARS = 0x0080;

// Virtual-key codes.
constexpr std::uint16_t VK_BACK = 8;
constexpr std::uint16_t VK_TAB = 9;
constexpr std::uint16_t VK_RETURN = 13;
constexpr std::uint16_t VK_SHIFT = 16;
constexpr std::uint16_t VK_CONTROL = 17;
constexpr std::uint16_t VK_MENU = 18;
constexpr std::uint16_t VK_ESCAPE = 27;
constexpr std::uint16_t VK_SPACE = 32;
constexpr std::uint16_t VK_PRIOR = 33;
constexpr std::uint16_t VK_NEXT = 34;
constexpr std::uint16_t VK_END = 35;
constexpr std::uint16_t VK_HOME = 36;
constexpr std::uint16_t VK_LEFT = 37;
constexpr std::uint16_t VK_UP = 38;
constexpr std::uint16_t VK_RIGHT = 39;
constexpr std::uint16_t VK_DOWN = 40;
constexpr std::uint16_t VK_INSERT = 45;
constexpr std::uint16_t VK_DELETE = 46;
constexpr std::uint16_t VK_NUMPAD0 = 96;
constexpr std::uint16_t VK_MULTIPLY = 106;
constexpr std::uint16_t VK_ADD = 107;
constexpr std::uint16_t VK_SEPARATOR = 108;
constexpr std::uint16_t VK_SUBTRACT = 109;
constexpr std::uint16_t VK_DECIMAL = 110;
constexpr std::uint16_t VK_DIVIDE = 111;
constexpr std::uint16_t VK_F1 = 112;
constexpr std::uint16_t VK_OEM_PLUS = 0xBB;
constexpr std::uint16_t VK_OEM_MINUS = 0xBD;

// System metrics, fixed so that geometry is the same on every machine. They
// count units of the bounds (Qt's logical units), like the frame and the bars
// they measure: on a screen of device pixel ratio 2 a bar is 34 device pixels.
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
int GetSystemMetrics(int Index);
constexpr int ScrollBarThickness = 17;
constexpr int ClientEdgeWidth = 2;

// Window functions. Their results follow the classic interface; callers that do
// not need them ignore them.
bool ShowScrollBar(HWND Wnd, int Bar, bool Show);
bool EnableScrollBar(HWND Wnd, int Bar, unsigned Arrows);
int SetScrollInfo(HWND Wnd, int Bar, const SCROLLINFO& Info, bool Redraw);
bool GetScrollInfo(HWND Wnd, int Bar, SCROLLINFO& Info);
// Moves the client area's pixels by (DX, DY). Only the whole client area is
// supported as scroll and clip rectangle (both null); with SW_INVALIDATE the
// uncovered strip is added to the invalid region, erased only with SW_ERASE.
int ScrollWindowEx(HWND Wnd, int DX, int DY, const TRect* Scroll, const TRect* Clip, QRegion* UpdateRgn,
                   TRect* Update, unsigned Flags);
bool InvalidateRect(HWND Wnd, const TRect* R, bool Erase);
bool UpdateWindow(HWND Wnd);
bool GetClientRect(HWND Wnd, TRect& R);
LRESULT SendMessage(HWND Wnd, std::uint32_t Msg, WPARAM W, LPARAM L);
// Queues the message; it is delivered from the event loop.
bool PostMessage(HWND Wnd, std::uint32_t Msg, WPARAM W, LPARAM L);

// Tests can watch the scroll-bar calls: each call is reported as a line such as
// "SetScrollInfo(SB_VERT, mask 0x17, min 0, max 99, page 50, pos 0)".
void SetWindowCallRecorder(std::function<void(const std::string&)> Recorder);
