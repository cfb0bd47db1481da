#include "ui/titlesearch.h"

std::vector<TMp3PlayerPtr> TracksWithTitle(const std::vector<TMp3PlayerPtr>& records,
                                           const TTitleKey& key) {
  std::vector<TMp3PlayerPtr> matches;
  for (const TMp3PlayerPtr& mp3 : records)
    if (key.Matches(mp3->Mp3Name())) matches.push_back(mp3);
  return matches;
}
