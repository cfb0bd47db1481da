#include "ui/dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "platform/inifile.h"

namespace {

class TQtDialogs final : public TDialogs {
 public:
  void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                   TMessageIcon icon) override {
    QMessageBox box(owner);
    box.setWindowTitle(caption.isEmpty() ? QApplication::applicationDisplayName() : caption);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
      case TMessageIcon::None:
        break;
      case TMessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case TMessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case TMessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.exec();
  }
  bool Confirm(QWidget* owner, const QString& text) override {
    return QMessageBox::question(owner, QApplication::applicationDisplayName(), text,
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
  }
  QString OpenFile(QWidget* owner, const QString& caption, const QString& folder,
                   const QString& filter) override {
    return QFileDialog::getOpenFileName(owner, caption, folder, filter);
  }
  QString SaveFile(QWidget* owner, const QString& caption, const QString& folder,
                   const QString& filter) override {
    return QFileDialog::getSaveFileName(owner, caption, folder, filter);
  }
  QString SelectFolder(QWidget* owner, const QString& caption,
                       const QString& initialFolder) override {
    return QFileDialog::getExistingDirectory(owner, caption, initialFolder);
  }
  std::optional<QFont> SelectFont(QWidget* owner, const QFont& initial) override {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, owner);
    return ok ? std::optional<QFont>(font) : std::nullopt;
  }
  std::optional<QColor> SelectColor(QWidget* owner, const QColor& initial) override {
    const QColor color = QColorDialog::getColor(initial, owner);
    return color.isValid() ? std::optional<QColor>(color) : std::nullopt;
  }
  std::optional<QString> InputText(QWidget* owner, const QString& caption, const QString& prompt,
                                   const QString& initial) override {
    bool ok = false;
    const QString text =
        QInputDialog::getText(owner, caption, prompt, QLineEdit::Normal, initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
  }
};

TQtDialogs qtDialogs;
TDialogs* current = &qtDialogs;

}  // namespace

TDialogs& Dialogs() {
  return *current;
}

void SetDialogs(TDialogs* dialogs) {
  current = dialogs ? dialogs : &qtDialogs;
}

void ShowException(QWidget* owner, const std::exception& error) {
  QString text;
  if (const auto* writeError = dynamic_cast<const platform::IniWriteError*>(&error))
    text = writeError->message();
  else
    text = QString::fromUtf8(error.what());
  Dialogs().ShowMessage(owner, text, {}, TMessageIcon::Error);
}
