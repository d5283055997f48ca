// Drives the next popup menu the program shows, as a person would: reads its
// entries and clicks one of them (or closes it with Esc).
#pragma once

#include <memory>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QKeyEvent>
#include <QTimer>

// What the menu showed: one line per entry, "-" for a separator, otherwise the
// text ("Caption\tKeys") with "[x] " before a checked and "(off) " before a
// disabled entry; and where it opened on the screen.
struct TMenuSeen {
  bool Opened = false;
  QStringList Entries;
  QPoint Pos;
};

// Clicks the entry whose caption (before the tab) is Choose; an empty Choose,
// or one that names a disabled entry, closes the menu without a choice.
inline std::shared_ptr<TMenuSeen> WhenMenuOpens(const QString& Choose = {}) {
  auto Seen = std::make_shared<TMenuSeen>();
  QTimer::singleShot(0, [Seen, Choose] {
    auto* M = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!M) return;
    Seen->Opened = true;
    Seen->Pos = M->pos();
    QAction* Target = nullptr;
    for (QAction* A : M->actions()) {
      if (A->isSeparator()) {
        Seen->Entries << "-";
        continue;
      }
      QString Line = A->text();
      if (A->isChecked()) Line.prepend("[x] ");
      if (!A->isEnabled()) Line.prepend("(off) ");
      Seen->Entries << Line;
      if (!Choose.isEmpty() && A->text().section('\t', 0, 0) == Choose) Target = A;
    }
    if (!Target || !Target->isEnabled()) {  // a disabled entry cannot be chosen
      M->close();
      return;
    }
    // Highlight the entry and press Enter, as with the keyboard.
    M->setActiveAction(Target);
    QKeyEvent Enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(M, &Enter);
  });
  return Seen;
}
