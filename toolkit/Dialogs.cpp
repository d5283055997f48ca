#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include "toolkit/Exceptions.h"
#include "toolkit/Forms.h"

KEST_CLASS_IMPL(TOpenDialog, TComponent)

namespace {

const std::vector<std::string> OptionNames = {
    "ofReadOnly",      "ofOverwritePrompt", "ofHideReadOnly",   "ofNoChangeDir",      "ofShowHelp",
    "ofNoValidate",    "ofAllowMultiSelect", "ofExtensionDifferent", "ofPathMustExist", "ofFileMustExist",
    "ofCreatePrompt",  "ofShareAware",      "ofNoReadOnlyReturn", "ofNoTestFileCreate", "ofNoNetworkButton",
    "ofNoLongNames",   "ofOldStyleDialog",  "ofNoDereferenceLinks", "ofEnableIncludeNotify", "ofEnableSizing"};


// The monitor of the active form, else of the main form, else the first one.
QScreen* DialogScreen() {
  TCustomForm* F = GetActiveForm();
  if (!F && Application()) F = Application()->MainForm();
  if (F && F->HandleAllocated())
    if (QScreen* S = F->Widget()->screen()) return S;
  const auto Screens = QGuiApplication::screens();
  return Screens.isEmpty() ? nullptr : Screens.first();
}

}  // namespace

std::vector<std::string> QtNameFilters(const std::string& Filter) {
  std::vector<std::string> Parts;
  for (std::size_t P = 0;;) {
    const std::size_t Bar = Filter.find('|', P);
    Parts.push_back(Filter.substr(P, Bar == std::string::npos ? std::string::npos : Bar - P));
    if (Bar == std::string::npos) break;
    P = Bar + 1;
  }
  std::vector<std::string> Result;
  for (std::size_t I = 0; I + 1 < Parts.size(); I += 2) {
    std::string Desc = Parts[I], Patterns = Parts[I + 1];
    // The description's own pattern list gives way to Qt's form of it.
    if (const auto Open = Desc.rfind(" ("); Open != std::string::npos && !Desc.empty() && Desc.back() == ')')
      Desc.erase(Open);
    for (char& C : Patterns)
      if (C == ';') C = ' ';
    Result.push_back(Desc + " (" + Patterns + ")");
  }
  return Result;
}

namespace {

// Sizes the detail view's columns to their content whenever a folder has been
// listed, so sizes and types are not cut short.
void FitColumnsToContent(QFileDialog& D) {
  auto* Tree = D.findChild<QTreeView*>("treeView");
  auto* Model = D.findChild<QFileSystemModel*>();
  if (!Tree || !Model) return;
  QObject::connect(Model, &QFileSystemModel::directoryLoaded, Tree, [Tree] {
    // The rows arrive after the signal; the sizing follows them.
    QTimer::singleShot(0, Tree, [Tree] { Tree->header()->resizeSections(QHeaderView::ResizeToContents); });
  });
}

}  // namespace

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

TOpenDialog::~TOpenDialog() = default;

bool TOpenDialog::Execute() {
  FSelectedFiles.Clear();
  FCurrentFileName.clear();
  TCustomForm* Owner = GetActiveForm();
  QFileDialog D(Owner && Owner->HandleAllocated() ? Owner->Widget() : nullptr);
  D.setOption(QFileDialog::DontUseNativeDialog);
  D.setAcceptMode(QFileDialog::AcceptOpen);
  D.setFileMode(FOptions.Contains(ofAllowMultiSelect) ? QFileDialog::ExistingFiles
                : FOptions.Contains(ofFileMustExist)  ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
  if (!FTitle.empty()) D.setWindowTitle(QString::fromStdString(FTitle));
  if (!FInitialDir.empty()) D.setDirectory(QString::fromStdString(FInitialDir));
  QStringList Filters;
  for (const auto& F : QtNameFilters(FFilter)) Filters << QString::fromStdString(F);
  D.setNameFilters(Filters);
  if (FFilterIndex >= 1 && FFilterIndex <= Filters.size()) D.selectNameFilter(Filters[FFilterIndex - 1]);
  // Patterns match whatever the letter case of a name.
  D.setFilter(D.filter() & ~QDir::CaseSensitive);
  D.setSizeGripEnabled(FOptions.Contains(ofEnableSizing));

  TWinControl* Pane = ExtraPane();
  QWidget* PaneWidget = Pane ? Pane->Widget() : nullptr;
  if (PaneWidget) {
    // A holder of the pane's own size keeps the pane at its control's origin,
    // where the toolkit places it.
    auto* Holder = new QWidget(&D);
    auto* Box = new QVBoxLayout(Holder);
    Box->setContentsMargins(0, 0, 0, 0);
    Box->addWidget(PaneWidget);
    Holder->setMinimumSize(Pane->Width(), 0);
    Holder->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    if (auto* Grid = qobject_cast<QGridLayout*>(D.layout()))
      Grid->addWidget(Holder, 0, Grid->columnCount(), Grid->rowCount(), 1);
    PaneWidget->show();
  }
  if (FColumnsFitContent) FitColumnsToContent(D);
  QObject::connect(&D, &QFileDialog::currentChanged, &D, [this](const QString& Path) {
    FCurrentFileName = Path.toStdString();
    RunGuarded([this] { DoSelectionChange(); });
  });

  D.adjustSize();
  if (QScreen* S = DialogScreen()) {
    // Wide enough that the file list's name, size, type and date columns show
    // in full beside the extra pane, within the screen.
    const QRect A = S->availableGeometry();
    const int PaneWidth = PaneWidget ? Pane->Width() : 0;
    D.resize(std::min(std::max(D.width(), 760 + PaneWidth), A.width() * 9 / 10),
             std::min(std::max(D.height(), 460), A.height() * 9 / 10));
    const QRect M = S->geometry();
    D.move(M.left() + (M.width() - D.width()) / 2, M.top() + (M.height() - D.height()) / 3);
  }
  FDialog = &D;
  DoShow();
  const int Result = D.exec();
  DoClose();
  FDialog = nullptr;
  if (PaneWidget) {
    // The pane belongs to its control, not to the dialog that ends here.
    PaneWidget->hide();
    PaneWidget->setParent(nullptr);
  }
  if (Result != QDialog::Accepted) return false;
  for (const QString& F : D.selectedFiles()) FSelectedFiles.Add(QDir::toNativeSeparators(F).toStdString());
  FFileName = FSelectedFiles.Count() > 0 ? FSelectedFiles[0] : std::string();
  FFilterIndex = static_cast<int>(Filters.indexOf(D.selectedNameFilter())) + 1;
  return true;
}

TRect TOpenDialog::MonitorBounds() const {
  QScreen* S = FDialog && FDialog->screen() ? FDialog->screen() : DialogScreen();
  if (!S) return TRect{0, 0, 1024, 768};
  const QRect M = S->geometry();
  return Bounds(M.left(), M.top(), M.width(), M.height());
}

void TOpenDialog::DoShow() {
  if (OnShow) OnShow(this);
}

void TOpenDialog::DoClose() {
  QToolTip::hideText();
  if (OnClose) OnClose(this);
}

void TOpenDialog::DoSelectionChange() {
  if (OnSelectionChange) OnSelectionChange(this);
}

void TOpenDialog::DefineProperties(TPropList& L) const {
  TComponent::DefineProperties(L);
  L.push_back(prop::String<TOpenDialog>("Filter", &TOpenDialog::Filter, &TOpenDialog::SetFilter, std::string()));
  L.push_back(prop::Int<TOpenDialog, int>("FilterIndex", &TOpenDialog::FilterIndex, &TOpenDialog::SetFilterIndex, 1));
  L.push_back(prop::String<TOpenDialog>("InitialDir", &TOpenDialog::InitialDir, &TOpenDialog::SetInitialDir,
                                        std::string()));
  L.push_back(prop::Set<TOpenDialog, TOpenOption>("Options", &TOpenDialog::Options, &TOpenDialog::SetOptions,
                                                  OptionNames, TOpenOptions{ofHideReadOnly, ofEnableSizing}));
  L.push_back(prop::String<TOpenDialog>("Title", &TOpenDialog::Title, &TOpenDialog::SetTitle, std::string()));
}

void RegisterDialogsClasses() { RegisterClass(TOpenDialog::StaticClass()); }
