#pragma once
// Answers the program's dialogs in tests: every message is recorded, every question takes the
// next queued answer, and a question without a queued answer fails the test (and cancels).
#include <gtest/gtest.h>

#include <deque>
#include <variant>

#include "ui/dialogs.h"

class ScriptedDialogs final : public TDialogs {
 public:
  struct Message {
    QString text;
    QString caption;
    TMessageIcon icon;
  };
  using Answer = std::variant<bool, QString, QFont, QColor>;

  ScriptedDialogs() { SetDialogs(this); }
  ~ScriptedDialogs() override {
    SetDialogs(nullptr);
    EXPECT_TRUE(answers.empty()) << answers.size() << " queued answers were never asked for";
  }

  std::vector<Message> messages;
  std::deque<Answer> answers;
  // What the folder, font and colour dialogs were opened on, in order.
  std::vector<QString> initialFolders;
  std::vector<QFont> initialFonts;
  std::vector<QColor> initialColors;

  void ShowMessage(QWidget*, const QString& text, const QString& caption,
                   TMessageIcon icon) override {
    messages.push_back({text, caption, icon});
  }
  bool Confirm(QWidget*, const QString& text) override { return Next<bool>(text).value_or(false); }
  QString OpenFile(QWidget*, const QString& caption, const QString&, const QString&) override {
    return Next<QString>(caption).value_or(QString());
  }
  QString SaveFile(QWidget*, const QString& caption, const QString&, const QString&) override {
    return Next<QString>(caption).value_or(QString());
  }
  QString SelectFolder(QWidget*, const QString& caption, const QString& initial) override {
    initialFolders.push_back(initial);
    return Next<QString>(caption).value_or(QString());
  }
  std::optional<QFont> SelectFont(QWidget*, const QFont& initial) override {
    initialFonts.push_back(initial);
    return Next<QFont>(QStringLiteral("font"));
  }
  std::optional<QColor> SelectColor(QWidget*, const QColor& initial) override {
    initialColors.push_back(initial);
    return Next<QColor>(QStringLiteral("colour"));
  }
  std::optional<QString> InputText(QWidget*, const QString& caption, const QString&,
                                   const QString&) override {
    return Next<QString>(caption);
  }

 private:
  template <class T>
  std::optional<T> Next(const QString& question) {
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected dialog: " << question.toStdString();
      return std::nullopt;
    }
    const Answer answer = std::move(answers.front());
    answers.pop_front();
    if (const T* value = std::get_if<T>(&answer)) return *value;
    ADD_FAILURE() << "dialog " << question.toStdString() << " got an answer of another kind";
    return std::nullopt;
  }
};
