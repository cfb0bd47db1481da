#include "model/mp3languages.h"

#include <QCoreApplication>
#include <QDir>

#include <sys/stat.h>

#include <string>

#include "platform/pathcodec.h"
#include "platform/regularfile.h"
#include "platform/textcodec.h"

namespace {

// A language file lists a few hundred short lines; anything far larger is not one, and reading
// it would stall the window.
constexpr off_t kMaxLanguageFileBytes = 1 << 20;

}  // namespace

TLanguageFileError::TLanguageFileError(const QString& path, int error)
    : std::runtime_error(platform::openErrorText(path, error)), FPath(path) {}

TMp3Languages::TMp3Languages() : FResultFile(QStringList()) {}

TMp3Languages::TMp3Languages(QString ComponentName, QString ReplaceName)
    : FComponentName(std::move(ComponentName)), FReplaceName(std::move(ReplaceName)) {}

TMp3Languages TMp3Languages::DivideReadString(const QString& ReadName) {
  const qsizetype split = ReadName.indexOf(QLatin1Char('='));
  if (split < 0) return TMp3Languages(QString(), ReadName);
  return TMp3Languages(ReadName.left(split), ReadName.mid(split + 1));
}

QStringList TMp3Languages::DefaultSearchFolders() {
  QStringList folders{QDir::currentPath()};
  if (QCoreApplication::instance()) {
    const QString program = QCoreApplication::applicationDirPath();
    folders << program
            << QDir::cleanPath(program + u'/' + QStringLiteral(VELMO_DATA_DIR_FROM_PROGRAM));
  }
  return folders;
}

QString TMp3Languages::FindLanguageFile(const QString& LngFile) const {
  if (LngFile.contains(QLatin1Char('/'))) return QDir::current().absoluteFilePath(LngFile);
  const QStringList folders = FSearchFolders ? *FSearchFolders : DefaultSearchFolders();
  for (const QString& folder : folders) {
    const QString path = QDir(folder).absoluteFilePath(LngFile);
    struct stat st {};
    // Found when it is there at all: a file that cannot be read is reported, not passed over.
    if (::stat(platform::encodePath(path).constData(), &st) == 0) return path;
  }
  return QDir(folders.value(0, QDir::currentPath())).absoluteFilePath(LngFile);
}

std::optional<TMp3LanguageEntries> TMp3Languages::GetComponentsNames(const QString& LngFile) {
  if (LngFile.isEmpty()) return std::nullopt;
  const QString path = FindLanguageFile(LngFile);
  std::string bytes;
  if (const int error =
          platform::readRegularFile(path, bytes, std::string::npos, kMaxLanguageFileBytes))
    throw TLanguageFileError(path, error);
  return GetComponentsNamesFromBytes(bytes);
}

std::optional<TMp3LanguageEntries> TMp3Languages::GetComponentsNamesFromBytes(
    std::string_view bytes) {
  FResultFile = platform::decodeLines(bytes);
  if (FResultFile->isEmpty()) return std::nullopt;
  TMp3LanguageEntries entries;
  entries.reserve(static_cast<std::size_t>(FResultFile->size()));
  for (const QString& line : *FResultFile) {
    FReadName = line;
    entries.push_back(DivideReadString(line));
  }
  return entries;
}
