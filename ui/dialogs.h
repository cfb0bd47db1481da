#pragma once
// Every dialog the program shows goes through TDialogs, so tests answer them without a person.
// The process has one current implementation: the Qt dialogs, unless a test installs its own.
#include <QColor>
#include <QFont>
#include <QString>

#include <exception>
#include <optional>

class QWidget;

enum class TMessageIcon { None, Information, Warning, Error };

class TDialogs {
 public:
  virtual ~TDialogs() = default;

  // A plain message box with only an OK button; an empty caption means the application title.
  virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption = {},
                           TMessageIcon icon = TMessageIcon::None) = 0;
  // Yes/No; true unless the answer is No.
  virtual bool Confirm(QWidget* owner, const QString& text) = 0;
  // Empty string when cancelled.
  virtual QString OpenFile(QWidget* owner, const QString& caption, const QString& folder,
                           const QString& filter) = 0;
  virtual QString SaveFile(QWidget* owner, const QString& caption, const QString& folder,
                           const QString& filter) = 0;
  virtual QString SelectFolder(QWidget* owner, const QString& caption,
                               const QString& initialFolder) = 0;
  virtual std::optional<QFont> SelectFont(QWidget* owner, const QFont& initial) = 0;
  virtual std::optional<QColor> SelectColor(QWidget* owner, const QColor& initial) = 0;
  virtual std::optional<QString> InputText(QWidget* owner, const QString& caption,
                                           const QString& prompt, const QString& initial) = 0;
};

TDialogs& Dialogs();
// Installs `dialogs` as the current implementation (not owned); nullptr restores the Qt one.
void SetDialogs(TDialogs* dialogs);

// The application's error handler: shows the message of an error that ended a command.
void ShowException(QWidget* owner, const std::exception& error);

// Runs a handler at the event-dispatch boundary: an error ends the handler, is shown in a
// message box, and the program keeps running. Returns false when the handler raised one.
template <class F>
bool RunGuarded(QWidget* owner, F&& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& error) {
    ShowException(owner, error);
    return false;
  }
}
