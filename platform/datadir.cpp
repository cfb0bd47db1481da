#include "platform/datadir.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <cerrno>

namespace platform {

QString dataDirectory() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  if (base.isEmpty() || !base.startsWith(QLatin1Char('/')))
    base = QDir::homePath() + QStringLiteral("/.local/share");
  const QString dir = base + QStringLiteral("/velmo");
  // Parents are ordinary folders; only our own folder is private.
  if (!QDir().mkpath(base)) return {};
  const QByteArray native = QFile::encodeName(dir);
  if (::mkdir(native.constData(), 0700) == 0) {
    // The umask may have taken bits we need; a folder we made is exactly private.
    if (::chmod(native.constData(), 0700) != 0) return {};
  } else if (errno != EEXIST) {
    return {};
  }
  struct stat st {};
  if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return dir + QLatin1Char('/');
}

}  // namespace platform
