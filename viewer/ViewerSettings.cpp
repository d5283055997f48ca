#include "viewer/ViewerSettings.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

// An integer setting within [Min, Max], or Default.
int IntIn(const QSettings& S, const char* Key, int Min, int Max, int Default) {
  bool Ok = false;
  const int V = S.value(Key).toInt(&Ok);
  return Ok && V >= Min && V <= Max ? V : Default;
}

bool BoolOr(const QSettings& S, const char* Key, bool Default) {
  const QString V = S.value(Key).toString();
  return V == "true" ? true : V == "false" ? false : Default;
}

// Window sizes and places beyond any screen are damage, not a place.
constexpr int Far = 1 << 16;

}  // namespace

std::string ViewerSettingsFile() {
  return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/KestImageDemo/settings.conf")
      .toStdString();
}

TViewerState ReadViewerState() {
  const QSettings S(QString::fromStdString(ViewerSettingsFile()), QSettings::IniFormat);
  TViewerState V;
  if (S.status() != QSettings::NoError) return V;
  const int W = IntIn(S, "Window/Width", 1, Far, 0), H = IntIn(S, "Window/Height", 1, Far, 0);
  if (W > 0 && H > 0) {
    const int L = IntIn(S, "Window/Left", -Far, Far, 0), T = IntIn(S, "Window/Top", -Far, Far, 0);
    V.Bounds = TRect{L, T, L + W, T + H};
  }
  V.Maximized = BoolOr(S, "Window/Maximized", V.Maximized);
  V.OpenZoom = static_cast<TOpenZoom>(IntIn(S, "View/ZoomOnOpen", ozFitLarge, ozKeep, V.OpenZoom));
  V.Smooth = BoolOr(S, "View/Smooth", V.Smooth);
  V.LockZoom = BoolOr(S, "View/LockZoom", V.LockZoom);
  const QString Mode = S.value("View/Mode").toString();
  V.Mode = Mode == "resize" ? smResize : Mode == "stretch" ? smStretch : smScale;
  V.OpenFolder = S.value("Dialog/Folder").toString().toStdString();
  return V;
}

void WriteViewerState(const TViewerState& V) {
  QSettings S(QString::fromStdString(ViewerSettingsFile()), QSettings::IniFormat);
  if (V.Bounds.Right > V.Bounds.Left && V.Bounds.Bottom > V.Bounds.Top) {
    S.setValue("Window/Left", V.Bounds.Left);
    S.setValue("Window/Top", V.Bounds.Top);
    S.setValue("Window/Width", V.Bounds.Right - V.Bounds.Left);
    S.setValue("Window/Height", V.Bounds.Bottom - V.Bounds.Top);
  }
  S.setValue("Window/Maximized", V.Maximized);
  S.setValue("View/ZoomOnOpen", static_cast<int>(V.OpenZoom));
  S.setValue("View/Smooth", V.Smooth);
  S.setValue("View/LockZoom", V.LockZoom);
  S.setValue("View/Mode", V.Mode == smResize ? "resize" : V.Mode == smStretch ? "stretch" : "scale");
  S.setValue("Dialog/Folder", QString::fromStdString(V.OpenFolder));
  S.sync();
}
