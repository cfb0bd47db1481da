#include "model/groupfile.h"

#include "platform/inifile.h"
#include "platform/pathcodec.h"

namespace groupfile {
namespace {

std::string EntrySection(int index) {
  return std::to_string(index).append(kGroupSection);
}

// A folder path may be longer than a profile string; the file holds it whole.
constexpr int kMaxPathChars = 1 << 16;

}  // namespace

std::vector<QString> ReadGroups(const platform::IniFile& ini) {
  const int count = ini.entryCount(kGroupSection, ini.readInteger(kGroupSection, kCountKey, 0));
  std::vector<QString> folders;
  folders.reserve(static_cast<std::size_t>(count));
  QString previous;
  for (int k = 0; k < count; ++k) {
    const std::string section = EntrySection(k);
    QString folder = ini.readString(section, kNameKey, previous, kMaxPathChars);
    if (folder.contains(QChar::ReplacementCharacter)) {
      std::string_view bytes;
      ini.readRawStrings(section, {kNameBytesKey}, &bytes);
      if (bytes.data())
        if (std::optional<QString> exact = platform::unescapePathBytes(bytes))
          folder = *std::move(exact);
    }
    // No path holds a NUL; what follows one in a damaged file would not survive the next save.
    if (const qsizetype nul = folder.indexOf(QChar(u'\0')); nul >= 0) folder.truncate(nul);
    folders.push_back(folder);
    previous = std::move(folder);
  }
  return folders;
}

std::string GroupsText(const std::vector<QString>& folders) {
  platform::IniFile ini = platform::IniFile::fromBytes({});
  int k = 0;
  for (const QString& folder : folders) {
    const std::string section = EntrySection(k++);
    if (platform::isPlainPath(folder)) {
      ini.writeString(section, kNameKey, folder);
      continue;
    }
    // Lost bytes and line breaks read as U+FFFD, which tells the reader to look for the bytes.
    QString text = folder;
    text.replace(u'\n', QChar::ReplacementCharacter).replace(u'\r', QChar::ReplacementCharacter);
    ini.writeStrings(section,
                     {{kNameKey, text}, {kNameBytesKey, platform::escapePathBytes(folder)}});
  }
  ini.writeString(kGroupSection, kCountKey, QString::number(k));
  return ini.text();
}

}  // namespace groupfile
