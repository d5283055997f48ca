// Drives the next file dialog the program opens, as a person would: the
// folder, rows chosen by name in the list view, then accept or cancel. Files
// are written into a temporary folder first.
#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>

#include "support/JpegFiles.h"

inline void WriteBytes(const QString& Path, const QByteArray& Bytes);

// A JPEG file of W x H pixels made by libjpeg's compressor.
inline void WritePicture(const QString& Path, int W, int H) {
  TJpegFileOptions O;
  O.Width = W;
  O.Height = H;
  const std::vector<std::uint8_t> Bytes = MakeJpeg(O);
  WriteBytes(Path, QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())));
}

inline void WriteBytes(const QString& Path, const QByteArray& Bytes) {
  QFile F(Path);
  ASSERT_TRUE(F.open(QIODevice::WriteOnly));
  F.write(Bytes);
}

// The model row of a name in the dialog's list view, once the folder has been read.
inline QModelIndex RowOf(QListView* View, const QString& Name) {
  const QDeadlineTimer Deadline(5000);
  while (!Deadline.hasExpired()) {
    const QAbstractItemModel* M = View->model();
    for (int R = 0; R < M->rowCount(View->rootIndex()); ++R) {
      const QModelIndex I = M->index(R, 0, View->rootIndex());
      if (I.data().toString() == Name) return I;
    }
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return {};
}

// What to do in the dialog: Act runs with it open (after the folder is set) and
// says whether to accept. Names that are not listed fail the test and cancel.
inline void WhenDialogOpens(const QString& Folder, std::function<bool(QFileDialog&, QListView&)> Act) {
  QTimer::singleShot(0, [Folder, Act] {
    auto* D = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!D) {
      ADD_FAILURE() << "no file dialog is open";
      return;
    }
    D->setViewMode(QFileDialog::List);
    D->setDirectory(Folder);
    auto* View = D->findChild<QListView*>("listView");
    if (!View || !Act(*D, *View))
      D->reject();
    else
      static_cast<QDialog*>(D)->accept();  // the file dialog checks the names as on OK
  });
}

// Selects the named rows, the first one as the current row; false when one is missing.
inline bool SelectRows(QListView& View, const QStringList& Names) {
  bool First = true;
  for (const QString& N : Names) {
    const QModelIndex I = RowOf(&View, N);
    if (!I.isValid()) {
      ADD_FAILURE() << "not listed: " << N.toStdString();
      return false;
    }
    View.selectionModel()->setCurrentIndex(
        I, (First ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select) | QItemSelectionModel::Rows);
    First = false;
  }
  return true;
}

inline void ChooseInNextDialog(const QString& Folder, const QStringList& Names) {
  WhenDialogOpens(Folder, [Names](QFileDialog&, QListView& View) { return SelectRows(View, Names); });
}

inline void CancelNextDialog(const QString& Folder) {
  WhenDialogOpens(Folder, [](QFileDialog&, QListView&) { return false; });
}
