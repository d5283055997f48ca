#include "toolkit/QtApplication.h"

#include "toolkit/Exceptions.h"

bool TQtApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    HandleCurrentException();
    return false;
  }
}
