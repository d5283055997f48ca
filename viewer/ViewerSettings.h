// The viewer's settings kept between runs in the user's configuration folder:
// the window's place and state, the zoom on open, smoothing, Lock Zoom, the
// Resize or Stretch mode and the open dialog's folder.
#pragma once

#include <string>

#include "viewer/ZoomOnOpen.h"

struct TViewerState {
  TRect Bounds{};  // the normal window's place; empty: the layout's, centred
  bool Maximized = false;
  TOpenZoom OpenZoom = ozFitLarge;
  bool Smooth = true;
  bool LockZoom = false;
  TScaleMode Mode = smScale;  // smScale, smResize or smStretch
  std::string OpenFolder;

  friend bool operator==(const TViewerState&, const TViewerState&) = default;
};

// The settings file (its folder need not exist yet).
std::string ViewerSettingsFile();
// The kept state; whatever is missing, unreadable, damaged or out of range
// keeps its default. Never raises.
TViewerState ReadViewerState();
// Keeps the state; a file that cannot be written is left as it was.
void WriteViewerState(const TViewerState& S);
