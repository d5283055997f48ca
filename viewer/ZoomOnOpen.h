// The zoom each picture the viewer opens comes at, and the kind of zoom the
// user is in: fitted to the view or a chosen percentage. Lock Zoom keeps the
// kind, so a fitted picture is followed by fitted ones; a fitted picture is
// fitted again when the view changes size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KestImage/KestImage.h"

class QObject;

enum TOpenZoom : std::uint8_t {
  ozFitLarge,    // pictures larger than the view are fitted, smaller ones shown at 100 %
  ozActualSize,  // every picture at 100 %
  ozKeep,        // the zoom of the picture before (its kind when it was fitted)
};

class TZoomOnOpen {
 public:
  // Takes over the view's OnPictureScale and OnOffsetChange (which a change of
  // its size fires).
  explicit TZoomOnOpen(TCustomKestImage& View);
  ~TZoomOnOpen();

  TOpenZoom OpenZoom() const { return FOpenZoom; }
  void SetOpenZoom(TOpenZoom V) { FOpenZoom = V; }

  // Marks the load of a file: the picture it brings takes the opening zoom.
  void BeginOpen() { FOpening = true; }
  void EndOpen() { FOpening = false; }

  // Fits a picture larger than the view into it; a smaller one at 100 %.
  void FitLarge();
  bool Fitted() const { return FFitted; }
  // Fitted: 100 %; otherwise fitted.
  void ToggleFit();
  // The scale changed: a zoom that is not a fit ends the fitted kind.
  void ScaleChanged();
  // The scale the view shows as percent text: in Resize the fitting scale, in
  // Stretch the common scale of both axes or "Stretch" where they differ.
  std::string ShownScaleText();
  // Called, posted, after the view's layout changed (its size among others).
  std::function<void()> OnAreaChanged;

 private:
  double FitScale(bool Enlarge);
  void PictureScale(double& Scale);
  void AreaChanged();
  // Sets a fitting scale with the picture's top left in view.
  void Apply(double Scale);

  TCustomKestImage& FView;
  TOpenZoom FOpenZoom = ozFitLarge;
  bool FOpening = false;
  bool FFitted = false;
  // The fitted kind came from Best Fit, which enlarges small pictures too.
  bool FEnlarge = false;
  bool FApplying = false;
  bool FCheckPosted = false;
  // The context of the posted checks: they die with the policy.
  std::unique_ptr<QObject> FPosts;
};
