#pragma once
// The window's dialogs answered for a benchmark: the folder browser gives one folder, the file
// dialogs one file, questions are answered yes, and nothing else is asked.
#include "ui/dialogs.h"

namespace bench {

class FolderAnswer final : public TDialogs {
 public:
  QString folder;
  QString file;
  void ShowMessage(QWidget*, const QString&, const QString&, TMessageIcon) override {}
  bool Confirm(QWidget*, const QString&) override { return true; }
  QString OpenFile(QWidget*, const QString&, const QString&, const QString&) override {
    return file;
  }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override {
    return file;
  }
  QString SelectFolder(QWidget*, const QString&, const QString&) override { return folder; }
  std::optional<QFont> SelectFont(QWidget*, const QFont&) override { return {}; }
  std::optional<QColor> SelectColor(QWidget*, const QColor&) override { return {}; }
  std::optional<QString> InputText(QWidget*, const QString&, const QString&,
                                   const QString&) override {
    return {};
  }
};

}  // namespace bench
