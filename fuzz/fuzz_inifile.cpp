// Feeds arbitrary bytes to the profile-file reader, in memory, and holds it against a plain
// line-by-line reader: every key of the input must read as that reader says, before and after a
// write, from the written document and from a fresh parse of the text it would write. The write
// must read back and leave every other line as it was; a deleted key must read as missing and
// leave every other key as it was.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzzcheck.h"
#include "platform/inifile.h"

namespace {

using fuzz::Check;

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0;;) {
    const std::size_t feed = text.find('\n', at);
    lines.push_back(text.substr(at, feed == std::string_view::npos ? feed : feed - at));
    if (feed == std::string_view::npos) return lines;
    at = feed + 1;
  }
}

// What a reader of the file must see, by the rules alone: names without regard to ASCII case,
// the first section and the first key of a name win, lines before any section are nobody's.
struct Expected {
  bool asciiNames = true;  // otherwise Unicode folding is in play and names are not compared
  std::vector<std::pair<std::string, std::string>> names;             // as spelled in the file
  std::map<std::pair<std::string, std::string>, std::string> values;  // by lower-case names

  explicit Expected(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string section;
    bool inSection = false;
    bool hidden = false;
    std::map<std::string, bool> seen;
    for (const std::string_view line : Lines(text)) {
      const std::string_view trimmed = Trim(line);
      if (!trimmed.empty() && trimmed.front() == '[') {
        const std::string_view inside = Trim(trimmed.substr(1));
        const std::string_view name = Trim(inside.substr(0, inside.find(']')));
        section = std::string(name);
        inSection = true;
        hidden = !seen.emplace(Lower(name), true).second;
        NoteName(name);
        continue;
      }
      const std::size_t eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view key = Trim(line.substr(0, eq));
      if (key.empty() || !inSection) continue;
      NoteName(key);
      if (hidden) continue;
      std::string_view value = Trim(line.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      if (values.emplace(std::pair(Lower(section), Lower(key)), std::string(value)).second)
        names.emplace_back(section, std::string(key));
    }
  }
  void NoteName(std::string_view name) {
    for (const char c : name) asciiNames &= static_cast<unsigned char>(c) < 0x80;
  }
  const std::string* Find(std::string_view section, std::string_view key) const {
    const auto it = values.find({Lower(Trim(section)), Lower(Trim(key))});
    return it == values.end() ? nullptr : &it->second;
  }
};

// Every key the rules see reads as they say; a name they do not know reads as missing.
void CheckReads(const platform::IniFile& ini, const Expected& expected, const char* what) {
  if (!expected.asciiNames) return;
  for (const auto& [section, key] : expected.names) {
    std::string_view raw[2];
    ini.readRawStrings(section, {key, "no=key"}, raw);
    const std::string* value = expected.Find(section, key);
    Check(value && raw[0].data() && raw[0] == *value, what);
    Check(raw[1].data() == nullptr, what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string before(reinterpret_cast<const char*>(data), size);
  const Expected expected(before);

  // Names come from the input itself, so existing sections and keys are hit.
  const std::size_t cut = before.empty() ? 0 : static_cast<unsigned char>(before[0]) % (size + 1);
  std::string section = before.substr(0, std::min<std::size_t>(cut, 40));
  std::string key = before.substr(cut, 20);
  const QString value = QString::fromUtf8(before.substr(size / 2, 60)) + QStringLiteral(" \"x\" ");
  QString readBack = value;
  readBack.replace(QLatin1Char('\r'), QLatin1Char(' '))
      .replace(QLatin1Char('\n'), QLatin1Char(' '));

  {
    const platform::IniFile reader = platform::IniFile::fromBytes(before);
    CheckReads(reader, expected, "a read differs from the rules");
    reader.readString(section, key, QStringLiteral("def"), 100000);
    reader.readInteger(section, key, 0);
    QString values[3];
    reader.readStrings(section, {key, "Count", key}, values);
    Check(values[0] == values[2], "a batched read differs for the same key");
  }

  platform::IniFile writer = platform::IniFile::fromBytes(before);
  try {
    writer.writeString(section, key, value);
  } catch (const std::invalid_argument&) {
    // Names that cannot be stored are refused; write under names that can.
    section = "Fuzz";
    key = "Key";
    writer.writeString(section, key, value);
  }
  const std::string after = writer.text();
  Check(writer.readString(section, key, {}, 100000) == readBack, "the writer misreads its write");

  // Every line but the one written (and a new header) is as it was; a last line that had no line
  // end may have gained one, as the file's other lines end.
  std::string ended = before;
  for (const std::string_view eol : {"\r\n", "\n"}) {
    if (before.empty() || before.back() == '\n') break;
    if (after.compare(0, before.size() + eol.size(), before + std::string(eol)) == 0) {
      ended += eol;
      break;
    }
  }
  const std::vector<std::string_view> old = Lines(ended);
  const std::vector<std::string_view> now = Lines(after);
  std::size_t prefix = 0;
  while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
         old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
    ++suffix;
  Check(old.size() - prefix - suffix <= 1 && now.size() - prefix - suffix <= 3,
        "the write changed lines it did not name");

  // The other keys read as before; the file reads by the rules, as written and as parsed.
  const Expected written(after);
  bool comparable = expected.asciiNames && written.asciiNames;
  for (const char c : section + key) comparable &= static_cast<unsigned char>(c) < 0x80;
  Check(!comparable || written.Find(section, key) != nullptr, "the write is not found");
  for (const auto& [s, k] : expected.names) {
    if (!comparable) break;
    if (Lower(Trim(s)) == Lower(Trim(section)) && Lower(Trim(k)) == Lower(Trim(key))) continue;
    const std::string* is = written.Find(s, k);
    Check(is && *is == *expected.Find(s, k), "another key changed");
  }
  const platform::IniFile parsed = platform::IniFile::fromBytes(after);
  CheckReads(parsed, written, "a read of the parsed text differs");
  Check(parsed.readString(section, key, {}, 100000) == readBack, "the parsed write differs");

  // A key deleted: it reads as missing, and every other key as before.
  if (comparable && !written.names.empty()) {
    const auto& [gone, goneKey] = written.names[size % written.names.size()];
    platform::IniFile remover = platform::IniFile::fromBytes(after);
    bool removable = true;
    try {
      remover.removeKey(gone, goneKey);
    } catch (const std::invalid_argument&) {
      removable = false;  // a key with a CR inside cannot be named
    }
    if (removable) {
      const std::string left = remover.text();
      const Expected rest(left);
      Check(rest.Find(gone, goneKey) == nullptr, "a deleted key is still there");
      Check(remover.readString(gone, goneKey, QStringLiteral("def")) == QStringLiteral("def"),
            "the writer still reads a deleted key");
      for (const auto& [s, k] : written.names) {
        if (Lower(Trim(s)) == Lower(Trim(gone)) && Lower(Trim(k)) == Lower(Trim(goneKey))) continue;
        const std::string* is = rest.Find(s, k);
        Check(is && *is == *written.Find(s, k), "a deletion changed another key");
      }
      CheckReads(platform::IniFile::fromBytes(left), rest, "a read after a deletion differs");
    }
  }

  // A new section written in one batch, with a key repeated: the later value wins.
  platform::IniFile batch = platform::IniFile::fromBytes(after);
  batch.writeStrings("Fuzz Batch", {{"a", u"1"}, {"b", u"2"}, {"A", u"3"}});
  const platform::IniFile again = platform::IniFile::fromBytes(batch.text());
  Check(
      again.readInteger("fuzz batch", "a", 0) == 3 && again.readInteger("fuzz batch", "b", 0) == 2,
      "a batch into a new section is wrong");
  return 0;
}
