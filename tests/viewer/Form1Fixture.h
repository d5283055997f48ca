// The real main window, shown under the offscreen platform with the message
// box replaced by a recorder, and how a person drives it.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "support/DialogDriver.h"
#include "toolkit/QtPresenter_p.h"
#include "viewer/Formats.h"
#include "viewer/Unit1.h"

// The real window, shown under the offscreen platform, with the message box
// replaced by a recorder.
class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializePictureFormats();
    InitializeViewerUnits();
    App = std::make_unique<TApplication>(nullptr);
    App->MessageBoxHook = [this](const std::string& Caption, const std::string& Text) {
      Messages.push_back(Caption + ": " + Text);
    };
    Form = App->CreateForm(std::make_unique<TForm1>(App.get()));
    Form->Show();
    QApplication::processEvents();
    ASSERT_TRUE(Folder.isValid());
  }

  void TearDown() override {
    App.reset();
    FinalizeViewerUnits();
    FinalizePictureFormats();
  }

  QString Path(const char* Name) const { return Folder.filePath(QString::fromLatin1(Name)); }
  QComboBox* Combo() const { return static_cast<QComboBox*>(Form->ComboBox1->Hosted()); }
  static void Click(TToolButton* B) { static_cast<QToolButton*>(B->Hosted())->click(); }

  // Types into the zoom box as a person would after clicking into it.
  void TypeIntoBox(const QString& Text) {
    Form->ComboBox1->SetFocus();
    QLineEdit* Edit = Combo()->lineEdit();
    Edit->selectAll();
    QTest::keyClicks(Edit, Text);
    QTest::keyClick(Edit, Qt::Key_Return);
  }

  // A wheel turn over the view, of Delta units (positive: away from the user).
  void Wheel(int Delta) {
    QWidget* Target = Form->KestImage1->Widget();
    QWheelEvent E(QPointF(20, 20), Target->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, Delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Target, &E);
  }

  // The Qt widget that shows the view's client area (it takes the view's input).
  QWidget* ViewClient() const { return static_cast<TWindowWidget*>(Form->KestImage1->Widget())->Client(); }
  // A key pressed and released where the focus is, as the keyboard delivers it.
  void Key(Qt::Key K, Qt::KeyboardModifiers M = Qt::NoModifier) {
    QWidget* Focus = QApplication::focusWidget();
    QTest::keyClick(Focus ? Focus : ViewClient(), K, M);
  }

  void Open(const QStringList& Names) {
    ChooseInNextDialog(Folder.path(), Names);
    Click(Form->ToolButton1);
  }

  std::string Shown() const {
    return std::to_string(Form->KestImage1->Picture()->Width()) + "x" +
           std::to_string(Form->KestImage1->Picture()->Height());
  }

  // Whether First, Prior, Next and Last are enabled, as "FPNL" with "-" for disabled.
  std::string Navigation() const {
    std::string S;
    const char* Letters = "FPNL";
    const TAction* A[] = {Form->FileFirst, Form->FilePrior, Form->FileNext, Form->FileLast};
    for (int I = 0; I < 4; ++I) S += A[I]->Enabled() ? Letters[I] : '-';
    return S;
  }

  std::unique_ptr<TApplication> App;
  TForm1* Form = nullptr;
  std::vector<std::string> Messages;
  QTemporaryDir Folder;
};

