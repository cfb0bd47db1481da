#pragma once
// The title search shared by the main list's fast filter and the search dialog: key and title
// are both upper-cased (letters beyond ASCII, Cyrillic included, fold too) and the key may stand
// anywhere in the title, blanks included.
//
// Threading: main thread only, like the records it reads.
#include <QString>

#include <vector>

#include "model/mp3objects.h"

class TTitleKey {
 public:
  explicit TTitleKey(const QString& key) : upper_(Fold(key)) {}

  // The form of a title the key is looked for in. Upper-casing allocates, so a caller that
  // searches the same titles at every keystroke folds them once.
  static QString Fold(const QString& text) { return text.toUpper(); }
  bool Matches(const QString& title) const { return FoundIn(Fold(title)); }
  bool FoundIn(const QString& foldedTitle) const { return foldedTitle.contains(upper_); }

 private:
  QString upper_;
};

// The records whose display name matches `key`, in their order.
std::vector<TMp3PlayerPtr> TracksWithTitle(const std::vector<TMp3PlayerPtr>& records,
                                           const TTitleKey& key);
