#include "model/textpool.h"

QString TTextPool::Shared(const QString& text) {
  if (text.isEmpty() || text.size() > kMaxChars) return text;
  return Shared(QStringView(text));
}

QString TTextPool::Shared(QStringView text) {
  if (text.isEmpty()) return QString();
  if (text.size() > kMaxChars) return text.toString();
  const auto it = FTexts.constFind(text);
  if (it != FTexts.cend()) return it.value();
  if (FTexts.size() >= FDropAt) DropUnused();
  QString copy(text.data(), text.size());
  FTexts.insert(QStringView(copy), copy);
  return copy;
}

void TTextPool::DropUnused() {
  // Refcount 1: only the pool holds it, and only this thread can hand it out again.
  FTexts.removeIf([](const auto& entry) { return entry.value().isDetached(); });
  // Next time at twice what is still in use, so dropping stays a small share of the work.
  FDropAt = std::max(kFirstDrop, FTexts.size() * 2);
}

TTextPool& TTextPool::ForThisThread() {
  thread_local TTextPool pool;
  return pool;
}
