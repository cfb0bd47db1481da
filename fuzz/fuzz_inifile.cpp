// Feeds arbitrary bytes to the profile-file reader as a file on disk, reads names taken from the
// input, writes a key, and checks that the write reads back and touched nothing else.
#include <QDir>
#include <QFile>
#include <QString>

#include <unistd.h>
#include <cstdlib>
#include <string>

#include "platform/inifile.h"

namespace {

QString WorkFile() {
  static const QString path =
      QDir::tempPath() + QStringLiteral("/velmo-fuzz-ini-%1.DAT").arg(::getpid());
  return path;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    QFile file(WorkFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  // Names come from the input itself, so existing sections and keys are hit.
  const std::size_t cut = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % (size + 1);
  const std::string section = bytes.substr(0, std::min<std::size_t>(cut, 40));
  const std::string key = bytes.substr(cut, 20);

  platform::IniFile reader(WorkFile());
  const QString before = reader.readString(section, key, QStringLiteral("def"));
  reader.readInteger(section, key, 0);
  reader.readString("PlayList", "Count", {}, 100000);
  const QString other = reader.readString("PlayList", "Count", QStringLiteral("none"));

  // Names the writer can store as such: printable ASCII without brackets, '=' or ';', no blanks
  // at the ends.
  const auto plainName = [](const std::string& name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ') return false;
    for (const char c : name) {
      const auto u = static_cast<unsigned char>(c);
      if (c == '[' || c == ']' || c == '=' || c == ';' || u < 0x20 || u >= 0x7F) return false;
    }
    return true;
  };
  (void)before;
  if (!plainName(section) || !plainName(key)) return 0;

  platform::IniFile writer(WorkFile());
  const QString value = QStringLiteral(" written \"value\" ");
  writer.writeString(section, key, value);
  writer.commit();
  const platform::IniFile again(WorkFile());
  Check(again.readString(section, key, {}) == value);
  const bool sameKey =
      QString::fromStdString(section).compare(QStringLiteral("PlayList"), Qt::CaseInsensitive) ==
          0 &&
      QString::fromStdString(key).compare(QStringLiteral("Count"), Qt::CaseInsensitive) == 0;
  if (!sameKey) Check(again.readString("PlayList", "Count", QStringLiteral("none")) == other);
  return 0;
}
