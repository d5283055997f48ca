// The picture container: the abstract graphic, and the picture that holds at
// most one graphic, reports its size, draws through it and passes its change
// and progress notifications on.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "toolkit/Classes.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Graphics.h"

enum TProgressStage : std::uint8_t { psStarting, psRunning, psEnding };

// Progress of a long operation (decoding): Sender is the graphic that reports
// it, PercentDone 0..100, RedrawNow asks the receiver to repaint now, R is the
// band of picture rows new since the previous notification (or empty), Msg is
// always empty.
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone,
                                          bool RedrawNow, const TRect& R, const std::string& Msg)>;

// A new frame of an animation changed R of the picture (in picture pixels).
// It is not a change of the picture: its size and everything else stay.
using TFrameEvent = std::function<void(TObject* Sender, const TRect& R)>;

class TGraphic;
class TBitmap;
class TBackgroundDecode;
using TGraphicClass = const TMetaClass*;

// ---------------------------------------------------------------------------
// TGraphic: what every graphic class can do. The overridable operations are
// declared in this order: change notification, drawing, equality, empty test,
// height, palette, transparency, width, stored data, the setters, file and
// stream loading and saving.

class TGraphic : public TPersistent, public TCanvasDrawable {
  KEST_CLASS(TGraphic)
 public:
  TGraphic();
  ~TGraphic() override;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  // Raises the change notification.
  virtual void Changed(TObject* Sender);
  // Draws the graphic into R of the canvas (the canvas's Draw and StretchDraw call it).
  void DrawInto(TCanvas& ACanvas, const TRect& R) override = 0;
  virtual bool Equals(const TGraphic* Other) const;
  bool Empty() const override = 0;
  std::int32_t Height() const override = 0;
  // The palette the graphic draws with, or null.
  virtual HPALETTE Palette() const { return nullptr; }
  virtual bool Transparent() const { return FTransparent; }
  std::int32_t Width() const override = 0;
  // The stored form of the graphic's data inside a stored picture form.
  virtual void ReadData(TStream& Stream);
  virtual void WriteData(TStream& Stream) const;
  virtual void SetHeight(std::int32_t Value) = 0;
  virtual void SetPalette(HPALETTE Value);
  // Stores a different value and raises the change notification.
  virtual void SetTransparent(bool Value);
  virtual void SetWidth(std::int32_t Value) = 0;
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName) const;
  // Loads from the current position of the stream to its end.
  virtual void LoadFromStream(TStream& Stream) = 0;
  // Loads a whole file's bytes; a graphic that keeps them takes them over
  // rather than copying them. By default: LoadFromStream over the bytes.
  virtual void LoadFromFileBytes(TFileBytes&& Bytes);
  virtual void SaveToStream(TStream& Stream) const = 0;

  // The palette-modified flag: a palette was created or changed and not yet realised.
  bool PaletteModified() const { return FPaletteModified; }
  void SetPaletteModified(bool V) { FPaletteModified = V; }

  // A new graphic of the same class holding a copy of this one's image.
  std::unique_ptr<TGraphic> Clone() const;

  // Raises the progress notification.
  void Progress(TObject* Sender, TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R,
                const std::string& Msg);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  TFrameEvent OnFrame;

  // --- Decoding at the first drawing on a worker thread --------------------
  // Whether the first drawing still has to decode the pixels.
  virtual bool NeedsDecode() const { return false; }
  // The next drawing goes to R: a graphic that decodes only what a drawing
  // needs (a reduced draft for a small one) decodes for R on the worker thread.
  virtual void PlanDrawing(const TRect&) {}
  // While a decode runs on a worker thread: draws what stands in for the
  // picture until it arrives (a draft decoded before) into R, without waiting
  // for the decode; false when there is nothing to draw.
  virtual bool DrawWhileDecoding(TCanvas&, const TRect&) { return false; }
  // Starts that decode on a worker thread and returns at once; nothing when
  // there is nothing to decode or a decode runs. Its progress notifications
  // are raised on this thread from the event loop, in order and with the
  // values of a decode at drawing; the last (psEnding) comes once the decoded
  // picture is held. A failure then goes to the application's exception
  // handler, once, and the graphic is left as a failed decode at drawing
  // leaves it. No change notification is raised.
  void StartBackgroundDecode();
  bool BackgroundDecoding() const { return FBackground != nullptr; }
  // Stops a running background decode and frees what it decoded: none of its
  // notifications is raised any more, and the next drawing decodes afresh.
  void CancelBackgroundDecode();
  // Waits for a running background decode and completes it now, raising the
  // notifications it had not raised yet, and its failure.
  void FinishBackgroundDecode();
  // While a decode runs on a worker thread, for a graphic that shows decodes
  // in progress: the picture as decoded up to the last progress notification
  // raised (rows not decoded yet black or transparent), to be drawn in its
  // place; null otherwise. Valid until the next notification or the end of the decode.
  TBitmap* BackgroundPreview() const;

 protected:
  // The copy the worker decodes: by default Clone's.
  virtual std::unique_ptr<TGraphic> CopyForBackground() const;
  // On the worker thread, on a copy made by CopyForBackground: the decode done at first
  // drawing. Raises EDecodeCancelled soon after Cancel is set.
  virtual void DecodeForBackground(const std::atomic<bool>& Cancel);
  // Takes over what Worker, the decoded copy, decoded (complete or not).
  virtual void TakeDecoded(TGraphic& Worker);
  // On the worker thread, on the copy, while it raises a progress notification
  // that asks for a repaint: the picture being decoded, whose rows are all
  // defined then, or null when the graphic does not show decodes in progress
  // (the default).
  virtual const TBitmap* PartialPicture();

  bool FTransparent = false;
  bool FPaletteModified = false;

 private:
  friend class TBackgroundDecode;
  // Forgets the finished background decode after completing it; returns its failure.
  std::exception_ptr EndBackgroundDecode();

  std::unique_ptr<TBackgroundDecode> FBackground;
};

// ---------------------------------------------------------------------------
// TPicture

class TPicture : public TPersistent {
  KEST_CLASS(TPicture)
 public:
  TPicture();
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The held graphic, or null for an empty picture.
  TGraphic* Graphic() const { return FGraphic.get(); }
  std::int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
  std::int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }

  // Replaces the graphic by a copy of Source's (none empties the picture) and
  // raises OnChange once. The source is left untouched.
  void CopyFrom(const TPicture* Source);
  void CopyFrom(const TGraphic* Source);
  void Assign(const TPersistent* Source) override;
  // Takes over a graphic: it replaces the held one and OnChange is raised.
  void SetGraphic(std::unique_ptr<TGraphic> G);

  // Replaces the graphic by one loaded from the file, chosen by the file's
  // extension through the format registry. On failure raises and keeps the
  // previous graphic, without any notification.
  void LoadFile(const std::string& FileName);
  // The same, with the class chosen by the file's content where its
  // extension is unknown or names a class that refuses the file's first bytes
  // (TFileFormatsList::FindByContent).
  void LoadFileByContent(const std::string& FileName);
  // Reads and writes the stored picture form: the class name as a byte length
  // and its characters, then the graphic's stored data.
  void ReadStored(TStream& Stream);
  void WriteStored(TStream& Stream) const;

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  // Raised when the held graphic shows a new frame; Sender is the graphic.
  TFrameEvent OnFrame;

 private:
  // Holds G (or none) in place of the previous graphic and binds its notifications.
  void Hold(std::unique_ptr<TGraphic> G);
  void LoadFileAs(TGraphicClass C, const std::string& FileName);
  void GraphicChanged(TObject* Sender);

  std::unique_ptr<TGraphic> FGraphic;
};

// Runs Fn, a step that builds a graphic; memory that runs out inside it is
// reported as the system error it is: EOSError, code 12.
template <class F>
decltype(auto) ReportingMemory(F&& Fn) {
  try {
    return Fn();
  } catch (const std::bad_alloc&) {
    RaiseOSError(ENOMEM);
  }
}

// Drawing helpers of a canvas. DrawGraphic draws at the graphic's own size with
// the surface's background and text colours taken from the canvas's brush and
// font; nothing for an absent or empty graphic. StretchDrawGraphic draws into R,
// also an empty graphic; nothing for an absent one.
void DrawGraphic(TCanvas& Canvas, std::int32_t X, std::int32_t Y, TGraphic* Graphic);
void StretchDrawGraphic(TCanvas& Canvas, const TRect& R, TGraphic* Graphic);
