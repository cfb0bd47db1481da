#include "ui/languageapply.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>

#include "model/mp3objects.h"

namespace {

bool InsideStatusBar(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget())
    if (qobject_cast<const QStatusBar*>(w)) return true;
  return false;
}

// The components a language file may name, by their names in lower case. Qt's own helper objects
// ("qt_...") are no components, and the status bar's panels show texts no language file changes.
QHash<QString, QObject*> ComponentsByName(QWidget* target) {
  QHash<QString, QObject*> components;
  for (QObject* object : target->findChildren<QObject*>()) {
    const QString name = object->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
    if (auto* widget = qobject_cast<QWidget*>(object); widget && InsideStatusBar(widget)) continue;
    components.insert(name.toLower(), object);
  }
  return components;
}

// The page control showing `widget` as one of its pages, or null.
QTabWidget* TabsOfPage(QWidget* widget) {
  QWidget* stack = widget->parentWidget();
  if (!qobject_cast<QStackedWidget*>(stack)) return nullptr;
  auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
  return tabs && tabs->indexOf(widget) >= 0 ? tabs : nullptr;
}

void SetText(QObject* component, const QString& text) {
  if (auto* action = qobject_cast<QAction*>(component)) {
    action->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(component)) {
    // A caption is shown as written, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
    group->setTitle(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
    edit->setText(text);
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(component)) {
    memo->setPlainText(text);
  } else if (auto* widget = qobject_cast<QWidget*>(component)) {
    if (QTabWidget* tabs = TabsOfPage(widget)) tabs->setTabText(tabs->indexOf(widget), text);
  }
}

}  // namespace

void ApplyLanguageEntries(QWidget* target, const TMp3LanguageEntries& entries) {
  const QHash<QString, QObject*> components = ComponentsByName(target);
  for (const TMp3Languages& entry : entries) {
    if (entry.ComponentName().isEmpty()) continue;
    if (QObject* component = components.value(entry.ComponentName().toLower()))
      SetText(component, entry.ReplaceName());
  }
}

void SetLanguage(QWidget* Sender, const QString& _Language) {
  TMp3Languages reader;
  TMp3Languages& translator = Mp3Session ? Mp3Session->Mp3Languages() : reader;
  const std::optional<TMp3LanguageEntries> entries = translator.GetComponentsNames(_Language);
  if (entries) ApplyLanguageEntries(Sender, *entries);
}
