#pragma once
// A set of paths for the length of one command: the paths of a 100,000-track list, asked once per
// file a scan meets. The texts sit back to back in one buffer and the table is one array, so the
// set makes no allocation per path. A set of separately allocated strings, made while the
// records of a scan are being made, would leave holes between those records when it is freed:
// memory the process can neither use nor give back.
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

class TPathSet {
 public:
  // Room for this many paths without growing the table.
  void reserve(qsizetype count);
  // False when the path was there already.
  bool insert(QStringView path);
  bool contains(QStringView path) const;
  qsizetype size() const { return static_cast<qsizetype>(FEntries.size()); }

 private:
  struct Entry {
    qsizetype offset;
    qsizetype length;
    std::size_t hash;
  };
  static constexpr std::uint32_t kEmpty = UINT32_MAX;

  // The slot holding the path, or the empty slot where it would go.
  std::size_t Find(QStringView path, std::size_t hash) const;
  void Rehash(std::size_t slots);

  QString FText;
  std::vector<Entry> FEntries;
  // Open addressing with linear probing, at most half full: indexes into FEntries.
  std::vector<std::uint32_t> FSlots;
};
