// The Qt application object of a program built on the toolkit: an exception
// that escapes any Qt event handler goes to the application's exception
// handler (a message box) instead of ending the program.
#pragma once

#include <QApplication>

class TQtApplication : public QApplication {
 public:
  TQtApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}
  bool notify(QObject* Receiver, QEvent* Event) override;
};
