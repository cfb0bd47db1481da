#include "model/pathset.h"

#include <QHashFunctions>

#include <bit>

namespace {

std::size_t HashOf(QStringView path) {
  return qHash(path, QHashSeed::globalSeed());
}

}  // namespace

void TPathSet::reserve(qsizetype count) {
  if (count <= 0) return;
  FEntries.reserve(static_cast<std::size_t>(count));
  const std::size_t slots = std::bit_ceil(static_cast<std::size_t>(count) * 2);
  if (slots > FSlots.size()) Rehash(slots);
}

std::size_t TPathSet::Find(QStringView path, std::size_t hash) const {
  const std::size_t mask = FSlots.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t index = FSlots[slot];
    if (index == kEmpty) return slot;
    const Entry& entry = FEntries[index];
    if (entry.hash == hash && entry.length == path.size() &&
        QStringView(FText).sliced(entry.offset, entry.length) == path)
      return slot;
  }
}

void TPathSet::Rehash(std::size_t slots) {
  FSlots.assign(slots, kEmpty);
  const std::size_t mask = slots - 1;
  for (std::uint32_t index = 0; index < FEntries.size(); ++index) {
    std::size_t slot = FEntries[index].hash & mask;
    while (FSlots[slot] != kEmpty) slot = (slot + 1) & mask;
    FSlots[slot] = index;
  }
}

bool TPathSet::insert(QStringView path) {
  if ((FEntries.size() + 1) * 2 > FSlots.size())
    Rehash(std::max<std::size_t>(16, FSlots.size() * 2));
  const std::size_t hash = HashOf(path);
  const std::size_t slot = Find(path, hash);
  if (FSlots[slot] != kEmpty) return false;
  FSlots[slot] = static_cast<std::uint32_t>(FEntries.size());
  FEntries.push_back(Entry{FText.size(), path.size(), hash});
  FText.append(path);
  return true;
}

bool TPathSet::contains(QStringView path) const {
  if (FEntries.empty()) return false;
  return FSlots[Find(path, HashOf(path))] != kEmpty;
}
