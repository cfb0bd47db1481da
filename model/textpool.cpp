#include "model/textpool.h"

#include <QHash>

#include <mutex>

class TSharedTextTable {
 public:
  using Entry = TSharedText::Entry;

  Entry* Take(const QString& text) {
    const std::lock_guard lock(FMutex);
    const auto it = FEntries.constFind(QStringView(text));
    Entry* entry = nullptr;
    if (it != FEntries.cend()) {
      entry = it.value();
    } else {
      if (FEntries.size() >= FDropAt) DropUnheld();
      entry = new Entry;
      // A copy of exactly the text: the caller's string may have spare room, or view memory it
      // does not own.
      entry->text = text.isEmpty() ? QStringLiteral("") : QString(text.constData(), text.size());
      FEntries.insert(QStringView(entry->text), entry);
    }
    // Under the lock: an entry is only deleted under it, and only when nothing holds it.
    entry->holders.fetch_add(1, std::memory_order_relaxed);
    return entry;
  }

  qsizetype Size() {
    const std::lock_guard lock(FMutex);
    return FEntries.size();
  }

 private:
  void DropUnheld() {
    FEntries.removeIf([](const auto& item) {
      Entry* entry = item.value();
      if (entry->holders.load(std::memory_order_acquire) != 0) return false;
      delete entry;
      return true;
    });
    // Next time at twice what is still held, so dropping stays a small share of the work.
    FDropAt = std::max(kFirstDrop, FEntries.size() * 2);
  }

  static constexpr qsizetype kFirstDrop = 4096;
  std::mutex FMutex;
  // Each key views the text of its own entry.
  QHash<QStringView, Entry*> FEntries;
  qsizetype FDropAt = kFirstDrop;
};

namespace {

// Never destroyed: records held by static objects may drop their texts during exit.
TSharedTextTable& Table() {
  static auto* table = new TSharedTextTable;
  return *table;
}

const QString& NullText() {
  static const auto* text = new QString;
  return *text;
}

}  // namespace

TSharedText::TSharedText(const QString& text) {
  if (!text.isNull()) FEntry = Table().Take(text);
}

TSharedText::TSharedText(const TSharedText& other) noexcept : FEntry(other.FEntry) {
  // The other handle holds the entry, so it cannot be dropped meanwhile.
  if (FEntry) FEntry->holders.fetch_add(1, std::memory_order_relaxed);
}

TSharedText::~TSharedText() {
  if (FEntry) FEntry->holders.fetch_sub(1, std::memory_order_acq_rel);
}

const QString& TSharedText::Text() const {
  return FEntry ? FEntry->text : NullText();
}

qsizetype TSharedText::TableSize() {
  return Table().Size();
}
