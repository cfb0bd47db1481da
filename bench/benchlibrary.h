#pragma once
// The track cache of a large library, as the list file benchmarks read and write it: long names,
// albums of 12 tracks, sizes and times as varied as a real collection's.
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <memory>

#include "model/mp3objects.h"

namespace bench {

// Replaces the cache of Mp3Session, which must exist, with `tracks` records.
inline void FillLibraryCache(int tracks) {
  Mp3Session->SetRefresh();
  for (int i = 0; i < tracks; ++i) {
    const QString name = QStringLiteral("%1 - Artist Name - Song Title Number %1.mp3").arg(i);
    Mp3Session->AddToCache(std::make_shared<TMp3Player>(
        i, QStringLiteral("/home/user/Music/Artist Name/Album %1/").arg(i / 12) + name, name,
        QString::number(3000 + i % 5000), QStringLiteral("0:3:%1").arg(10 + i % 50), 0,
        185000LL * (i + 1)));
  }
}

// A stored main list of `tracks` such records at `path`, written through a session of its own;
// its folder is made when missing.
inline void StoreLibraryList(const QString& path, int tracks) {
  QDir().mkpath(QFileInfo(path).path());
  Mp3Session = std::make_unique<TMp3Session>();
  FillLibraryCache(tracks);
  Mp3Session->Mp3Settings().SavePlayList(path);
  Mp3Session.reset();
}

}  // namespace bench
