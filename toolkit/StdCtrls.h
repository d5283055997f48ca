// Standard controls: text labels, combo boxes, panels and speed buttons.
#pragma once

#include <memory>
#include <string>

#include <QImage>

#include "toolkit/WidgetControl.h"

class QComboBox;
class QLabel;
class QToolButton;

enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout : std::uint8_t { tlTop, tlCenter, tlBottom };
enum TComboBoxStyle : std::uint8_t { csDropDown, csSimple, csDropDownList };
enum TPanelBevel : std::uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A line of text. With AutoSize its size follows the caption and the font; a
// label anchored to the right but not the left keeps its right edge then.
class TLabel : public TWidgetControl {
  KEST_CLASS(TLabel)
 public:
  explicit TLabel(TComponent* AOwner);

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& C);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool V);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment A);
  TTextLayout Layout() const { return FLayout; }
  void SetLayout(TTextLayout L);

  void Loaded() override;

 protected:
  QWidget* CreateHosted(QWidget* Parent) override;
  void SyncHosted() override;
  void DefineProperties(TPropList& L) const override;
  void WndProc(TMessage& Message) override;

 private:
  void AdjustBounds();
  QLabel* Label();

  std::string FCaption;
  bool FAutoSize = true;
  TAlignment FAlignment = taLeftJustify;
  TTextLayout FLayout = tlTop;
};

// An editable drop-down list. Choosing an item from the list sets the text to
// it and then raises OnClick; typed text stays in the box until a handler reads it.
class TComboBox : public TWidgetControl {
  KEST_CLASS(TComboBox)
 public:
  explicit TComboBox(TComponent* AOwner);

  TComboBoxStyle Style() const { return FStyle; }
  void SetStyle(TComboBoxStyle S);
  // Completion of typed text from the items.
  bool AutoComplete() const { return FAutoComplete; }
  void SetAutoComplete(bool V);
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int H) { FItemHeight = H; }
  TStringList& Items() { return FItems; }
  const TStringList& Items() const { return FItems; }
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int I);
  std::string Text() const { return FText; }
  void SetText(const std::string& T);

 protected:
  QWidget* CreateHosted(QWidget* Parent) override;
  void SyncHosted() override;
  void DefineProperties(TPropList& L) const override;

 private:
  QComboBox* Box();
  void ItemsChanged();
  void FitEditText();

  TComboBoxStyle FStyle = csDropDown;
  bool FAutoComplete = true;
  int FItemHeight = 13;
  TStringList FItems;
  int FItemIndex = -1;
  std::string FText;
  bool FSyncing = false;
};

// A container that paints its bevels and a centred caption. A single border
// style gives it a sunken edge outside its client area.
class TPanel : public TCustomControl {
  KEST_CLASS(TPanel)
 public:
  explicit TPanel(TComponent* AOwner);

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& C);
  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel B);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel B);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle B);

  // Raised after the client area changed size.
  TNotifyEvent OnResize;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void Paint() override;
  void WndProc(TMessage& Message) override;
  void DefineProperties(TPropList& L) const override;

 private:
  std::string FCaption;
  TPanelBevel FBevelOuter = bvRaised;
  TPanelBevel FBevelInner = bvNone;
  TBorderStyle FBorderStyle = bsNone;
};

// A button that never takes the focus, showing a glyph or its caption.
class TSpeedButton : public TWidgetControl {
  KEST_CLASS(TSpeedButton)
 public:
  explicit TSpeedButton(TComponent* AOwner);

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& C);
  const QImage& Glyph() const { return FGlyph; }
  void SetGlyph(const QImage& G);
  bool Flat() const { return FFlat; }
  void SetFlat(bool V);
  void SetEnabled(bool V) override;

 protected:
  QWidget* CreateHosted(QWidget* Parent) override;
  void SyncHosted() override;
  void DefineProperties(TPropList& L) const override;
  QToolButton* Button();

 private:
  std::string FCaption;
  QImage FGlyph;
  bool FFlat = true;
};

// Registers the classes of this unit for stored layouts.
void RegisterStdCtrlsClasses();
