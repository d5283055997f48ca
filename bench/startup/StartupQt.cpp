// The comparison for the viewer's start: a plain Qt window with the same
// parts (a tool bar of twelve buttons with icons, a zoom combo box, a link
// label, a status bar with two panels and a scroll area showing the same
// sample picture), shown and painted once, then the program ends.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "Stages.h"

int main(int argc, char** argv) {
  const TStages Stage;
  QApplication App(argc, argv);
  Stage("application");
  QMainWindow Window;
  Window.setWindowTitle("Qt window");
  Window.resize(689, 500);
  const QPixmap Icons(QStringLiteral(KEST_RESOURCES "/toolbar.png"));
  auto* Bar = Window.addToolBar("Tools");
  for (int I = 0; I < 12; ++I) {
    if (I == 5) {
      auto* Box = new QComboBox;
      for (const char* S : {"10%", "25%", "50%", "75%", "100%", "150%", "200%", "400%", "800%"}) Box->addItem(S);
      Box->setEditable(true);
      Bar->addWidget(new QLabel("Zoom:"));
      Bar->addWidget(Box);
    }
    QAction* A = Bar->addAction(QIcon(Icons.copy((I % 11) * 16, 0, 16, 16)), QString("Action %1").arg(I));
    A->setToolTip(A->text());
    if (I == 6) A->setCheckable(true);
  }
  auto* Central = new QWidget;
  auto* Layout = new QVBoxLayout(Central);
  auto* Link = new QLabel("<a href=\"https://example.org\">Home page</a>");
  Layout->addWidget(Link);
  auto* Area = new QScrollArea;
  auto* Picture = new QLabel;
  Picture->setPixmap(QPixmap::fromImage(QImage(QStringLiteral(KEST_RESOURCES "/sample.jpg"))));
  Area->setWidget(Picture);
  Area->setAlignment(Qt::AlignCenter);
  Layout->addWidget(Area);
  Window.setCentralWidget(Central);
  Window.statusBar()->addWidget(new QLabel("100%"));
  Window.statusBar()->addWidget(new QLabel("sample.jpg"), 1);
  Stage("window built");
  Window.show();
  QTimer::singleShot(0, &App, [&] {
    Stage("shown");
    QApplication::processEvents();
    Stage("events");
    for (QWidget* W : QApplication::topLevelWidgets())
      if (W->isVisible()) W->grab();
    Stage("painted");
    QApplication::quit();
  });
  const int Result = App.exec();
  Stage("ended");
  return Result;
}
