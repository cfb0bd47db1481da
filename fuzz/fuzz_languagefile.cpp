// Feeds arbitrary bytes to the language file reader, in memory: every line becomes exactly one
// entry, no line keeps a line break, and an entry joined back with its "=" gives its line.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "model/mp3languages.h"
#include "platform/textcodec.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Both 8-bit readings: the code page follows the chosen language.
  for (const auto page :
       {platform::AnsiCodePage::Windows1252, platform::AnsiCodePage::Windows1251}) {
    platform::setAnsiCodePage(page);
    TMp3Languages reader;
    const std::optional<TMp3LanguageEntries> entries = reader.GetComponentsNamesFromBytes(bytes);
    const QStringList& lines = *reader.ResultFile();
    Check(entries.has_value() == !lines.isEmpty(), "entries without lines, or lines without");
    if (!entries) continue;
    Check(entries->size() == static_cast<std::size_t>(lines.size()), "not one entry per line");
    for (qsizetype i = 0; i < lines.size(); ++i) {
      const QString& line = lines[i];
      const TMp3Languages& entry = (*entries)[static_cast<std::size_t>(i)];
      Check(!line.contains(u'\r') && !line.contains(u'\n'), "a line break inside a line");
      Check(!entry.ComponentName().contains(u'='), "a name with \"=\"");
      if (line.contains(u'='))
        Check(entry.ComponentName() + u'=' + entry.ReplaceName() == line, "split loses text");
      else
        Check(entry.ComponentName().isEmpty() && entry.ReplaceName() == line,
              "no \"=\" but a name");
    }
  }
  return 0;
}
