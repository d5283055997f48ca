#include "viewer/ZoomOnOpen.h"

#include <algorithm>

#include <QObject>
#include <QTimer>

#include "toolkit/SysUtils.h"

namespace {

std::string PercentText(double Scale) { return Format("%.0f%%", {Scale * 100}); }

}  // namespace

TZoomOnOpen::TZoomOnOpen(TCustomKestImage& View) : FView(View), FPosts(std::make_unique<QObject>()) {
  FView.OnPictureScale = [this](TObject*, double& Scale) { PictureScale(Scale); };
  // A size change moves the scroll range, which reports an offset change.
  FView.OnOffsetChange = [this](TObject*) {
    if (FCheckPosted) return;
    FCheckPosted = true;
    QTimer::singleShot(0, FPosts.get(), [this] {
      FCheckPosted = false;
      AreaChanged();
    });
  };
}

TZoomOnOpen::~TZoomOnOpen() {
  FView.OnPictureScale = nullptr;
  FView.OnOffsetChange = nullptr;
}

double TZoomOnOpen::FitScale(bool Enlarge) {
  const double Fit = FView.GetFitScale();
  if (Fit <= 0) return 1.0;  // no picture
  return Enlarge ? Fit : std::min(Fit, 1.0);
}

void TZoomOnOpen::PictureScale(double& Scale) {
  // A change of the picture that no opening caused (a decode that reports
  // one) keeps the zoom.
  if (!FOpening) {
    Scale = FView.Scale();
    return;
  }
  const bool KeepKind = FView.LockScale() || FOpenZoom == ozKeep;
  if (KeepKind) {
    Scale = FFitted ? FitScale(FEnlarge) : FView.Scale();
    return;
  }
  FFitted = FOpenZoom == ozFitLarge;
  FEnlarge = false;
  Scale = FFitted ? FitScale(false) : 1.0;
}

void TZoomOnOpen::Apply(double Scale) {
  FApplying = true;
  FView.SetScale(Scale);
  FView.ScrollTo(TPoint{0, 0});
  FApplying = false;
}

void TZoomOnOpen::FitLarge() {
  Apply(FitScale(false));
  FFitted = true;
  FEnlarge = false;
}

void TZoomOnOpen::ToggleFit() {
  if (FView.ScaleMode() != smScale) return;
  if (!FFitted) {
    FitLarge();
    return;
  }
  FView.SetScale(1.0);
  FFitted = false;
}

void TZoomOnOpen::ScaleChanged() {
  if (FOpening || FApplying) return;
  // Best Fit (the tool bar's or the view's own key) fits, enlarging too.
  FFitted = FView.GetFitScale() == FView.Scale();
  FEnlarge = FFitted;
}

void TZoomOnOpen::AreaChanged() {
  if (FFitted && FView.ScaleMode() == smScale && FView.Picture()->Graphic()) {
    const double Fit = FitScale(FEnlarge);
    if (Fit != FView.Scale()) Apply(Fit);
  }
  if (OnAreaChanged) OnAreaChanged();
}

std::string TZoomOnOpen::ShownScaleText() {
  const std::int32_t W = FView.Picture()->Width(), H = FView.Picture()->Height();
  switch (FView.ScaleMode()) {
    case smScale: return FView.GetScaleText();
    case smNormal: return PercentText(1.0);
    case smResize: return W > 0 && H > 0 ? PercentText(FView.GetFitScale()) : FView.GetScaleText();
    case smStretch: {
      if (W <= 0 || H <= 0) return FView.GetScaleText();
      const std::string X = PercentText(static_cast<double>(FView.ClientWidth()) / W);
      return X == PercentText(static_cast<double>(FView.ClientHeight()) / H) ? X : "Stretch";
    }
  }
  return FView.GetScaleText();
}
