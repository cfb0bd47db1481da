// Threading: an IniFile belongs to the thread that made it; the cache of parsed files is shared
// by all threads and guarded by cacheMutex. Parsed documents are immutable once published, so
// they are read without a lock.
#include "platform/inifile.h"

#include <QFile>
#include <QStringEncoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <initializer_list>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/textcodec.h"

namespace platform {

// ---- the parsed document ----

namespace {

struct Line {
  std::string_view text;   // as stored, without the line feed ('\r' kept)
  std::string_view key;    // trimmed; empty when the line holds no key
  std::string_view value;  // trimmed, quotes not yet removed
};

// A section's own lines stand together in the document's line list; keys added later to a
// section whose lines are not at the end of that list go to `added`, shown after the first
// `addedAt` lines (so before the blank lines that end the section).
struct Section {
  std::string_view header;  // "[name]" as stored; empty for the lines before the first section
  std::string_view name;    // trimmed
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  std::uint32_t addedAt = 0;
  bool firstOfName = true;  // a later section of the same name is never found
  std::vector<Line> added;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string FoldUnicode(std::string_view name) {
  return decodeText(name).toCaseFolded().toStdString();
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    std::size_t i = 0;
    for (; i < a.size(); ++i) {
      if (static_cast<unsigned char>(a[i] | b[i]) >= 0x80) break;
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    if (i == a.size()) return true;
  }
  if (IsAscii(a) && IsAscii(b)) return false;
  return FoldUnicode(a) == FoldUnicode(b);
}

std::size_t NameHash(std::string_view name) {
  if (!IsAscii(name)) {
    const std::string folded = FoldUnicode(name);
    return std::hash<std::string_view>()(folded);
  }
  std::uint64_t h = 1469598103934665603ULL;
  for (const char c : name) h = (h ^ static_cast<unsigned char>(LowerAscii(c))) * 1099511628211ULL;
  // Final avalanche: the table masks the low bits, which FNV alone mixes poorly.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

// Stable storage for lines written after parsing; chunks are shared with copies of the document
// and never written again once another document may see them.
class Arena {
 public:
  Arena() = default;
  // A copy shares the chunks but writes into fresh ones.
  Arena(const Arena& other) : chunks_(other.chunks_) {}
  Arena& operator=(const Arena&) = delete;

  // Stores the parts one after the other and returns the joined text.
  std::string_view Store(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    char* at;
    if (size > kChunk / 4) {
      auto chunk = std::shared_ptr<char[]>(new char[size]);
      chunks_.push_back(chunk);
      at = chunk.get();
    } else {
      if (!current_ || kChunk - used_ < size) {
        current_ = std::shared_ptr<char[]>(new char[kChunk]);
        chunks_.push_back(current_);
        used_ = 0;
      }
      at = current_.get() + used_;
      used_ += size;
    }
    char* out = at;
    for (const std::string_view part : parts) out = std::copy(part.begin(), part.end(), out);
    return {at, size};
  }

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::shared_ptr<char[]>> chunks_;
  std::shared_ptr<char[]> current_;
  std::size_t used_ = 0;
};

Line MakeLine(std::string_view text) {
  Line line{text, {}, {}};
  if (const std::size_t eq = text.find('='); eq != std::string_view::npos) {
    line.key = Trim(text.substr(0, eq));
    line.value = Trim(text.substr(eq + 1));
  }
  return line;
}

}  // namespace

struct IniDocument {
  std::shared_ptr<const std::string> buffer;  // the file's bytes the lines point into
  Arena arena;
  std::vector<Line> lines;
  std::vector<Section> sections;  // sections[0] holds the lines before the first section
  // Open addressing; a slot holds a name's hash in its high half and its section number + 1 in
  // the low half (0: free), so a probe rarely has to look at the section itself. The first
  // section of a name wins.
  std::vector<std::uint64_t> slots;
  std::uint32_t named = 0;
  bool exists = false;
  bool crlf = false;  // lines we add end as the file's first line does

  IniDocument() { sections.push_back({}); }

  static constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;
  static std::uint64_t Tag(std::string_view name) { return NameHash(name) & kTagMask; }
  // The bucket comes from the stored half of the hash, so growing never rehashes a name.
  std::size_t Bucket(std::uint64_t tag) const { return (tag >> 32) & (slots.size() - 1); }
  std::uint32_t SectionOf(std::uint64_t slot) const {
    return static_cast<std::uint32_t>(slot & 0xFFFFFFFFULL) - 1;
  }

  // The first section of `name`, or the free slot where it would go.
  struct Probe {
    const Section* found;
    std::size_t freeSlot;
  };
  Probe Look(std::string_view name, std::uint64_t tag) const {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Bucket(tag);; i = (i + 1) & mask) {
      const std::uint64_t slot = slots[i];
      if (slot == 0) return {nullptr, i};
      if ((slot & kTagMask) != tag) continue;
      const Section& section = sections[SectionOf(slot)];
      if (SameName(section.name, name)) return {&section, i};
    }
  }

  // Readers and writers mostly walk sections in file order, so the section after the one found
  // last is tried before the index: sequential memory instead of a cache miss per look-up.
  const Section* Hinted(std::string_view name, std::uint32_t& hint) const {
    for (const std::uint32_t at : {hint + 1, hint}) {
      if (at == 0 || at >= sections.size()) continue;
      const Section& section = sections[at];
      if (section.firstOfName && SameName(section.name, name)) {
        hint = at;
        return &section;
      }
    }
    return nullptr;
  }
  const Section* Find(std::string_view name, std::uint32_t& hint) const {
    if (const Section* section = Hinted(name, hint)) return section;
    if (slots.empty()) return nullptr;
    const Section* found = Look(name, Tag(name)).found;
    if (found) hint = static_cast<std::uint32_t>(found - sections.data());
    return found;
  }
  Section* Find(std::string_view name, std::uint32_t& hint) {
    return const_cast<Section*>(static_cast<const IniDocument*>(this)->Find(name, hint));
  }

  // Appends a section; returns the first section of that name (an earlier one, if any).
  Section& AddSection(std::string_view header, std::string_view name) {
    if ((named + 1) * 2 > slots.size()) Rehash(slots.empty() ? 64 : slots.size() * 2);
    const std::uint64_t tag = Tag(name);
    const Probe probe = Look(name, tag);
    Section section;
    section.header = header;
    section.name = name;
    section.first = static_cast<std::uint32_t>(lines.size());
    section.firstOfName = probe.found == nullptr;
    const std::size_t index = probe.found ? 0 : sections.size();
    sections.push_back(std::move(section));
    if (probe.found) return sections.back();
    slots[probe.freeSlot] = tag | (index + 1);
    ++named;
    return sections.back();
  }
  // The first section of `name`, made at the end of the file when there is none.
  Section& FindOrAdd(std::string_view name, std::uint32_t& hint) {
    if (const Section* section = Hinted(name, hint)) return const_cast<Section&>(*section);
    if ((named + 1) * 2 > slots.size()) Rehash(slots.empty() ? 64 : slots.size() * 2);
    const std::uint64_t tag = Tag(name);
    const Probe probe = Look(name, tag);
    if (probe.found) {
      hint = static_cast<std::uint32_t>(probe.found - sections.data());
      return const_cast<Section&>(*probe.found);
    }
    const std::string_view header = arena.Store({"[", name, "]", crlf ? "\r" : ""});
    Section section;
    section.header = header;
    section.name = header.substr(1, name.size());
    section.first = static_cast<std::uint32_t>(lines.size());
    hint = static_cast<std::uint32_t>(sections.size());
    sections.push_back(std::move(section));
    slots[probe.freeSlot] = tag | (hint + 1ULL);
    ++named;
    return sections.back();
  }
  void Reserve(std::size_t names) {
    std::size_t size = 64;
    while (size < names * 2) size *= 2;
    if (size > slots.size()) Rehash(size);
  }
  void Rehash(std::size_t size) {
    std::vector<std::uint64_t> old = std::move(slots);
    slots.assign(size, 0);
    const std::size_t mask = size - 1;
    for (const std::uint64_t slot : old) {
      if (slot == 0) continue;
      std::size_t i = Bucket(slot & kTagMask);
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = slot;
    }
  }

  template <class F>
  void ForEachLine(const Section& section, F&& visit) const {
    const Line* own = lines.data() + section.first;
    for (std::uint32_t i = 0; i < section.addedAt && i < section.count; ++i) visit(own[i]);
    for (const Line& line : section.added) visit(line);
    for (std::uint32_t i = section.addedAt; i < section.count; ++i) visit(own[i]);
  }
  Line* FindKey(Section& section, std::string_view key) {
    Line* own = lines.data() + section.first;
    for (std::uint32_t i = 0; i < section.count; ++i)
      if (!own[i].key.empty() && SameName(own[i].key, key)) return &own[i];
    for (Line& line : section.added)
      if (!line.key.empty() && SameName(line.key, key)) return &line;
    return nullptr;
  }
  const Line* FindKey(const Section& section, std::string_view key) const {
    return const_cast<IniDocument*>(this)->FindKey(const_cast<Section&>(section), key);
  }

  void AddKey(Section& section, const Line& line) {
    // Before the blank lines that end the section.
    std::uint32_t at = section.count;
    if (section.added.empty())
      while (at > 0 && Trim(lines[section.first + at - 1].text).empty()) --at;
    if (section.added.empty() && at == section.count &&
        section.first + section.count == lines.size()) {
      lines.push_back(line);
      ++section.count;
      section.addedAt = section.count;
      return;
    }
    if (section.added.empty()) section.addedAt = at;
    section.added.push_back(line);
  }

  void Parse(std::shared_ptr<const std::string> bytes) {
    buffer = std::move(bytes);
    std::string_view rest(*buffer);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    lines.reserve(rest.size() / 24 + 16);
    sections.reserve(rest.size() / 128 + 16);
    Reserve(rest.size() / 128 + 16);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::string_view text = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (lines.empty() && sections.size() == 1) crlf = !text.empty() && text.back() == '\r';
      const std::string_view trimmed = Trim(text);
      if (!trimmed.empty() && trimmed.front() == '[') {
        std::string_view name = trimmed.substr(1);
        AddSection(text, Trim(name.substr(0, name.find(']'))));
        continue;
      }
      lines.push_back(MakeLine(text));
      Section& current = sections.back();
      ++current.count;
      current.addedAt = current.count;
    }
  }

  std::string Serialize() const {
    std::size_t size = 0;
    for (const Section& section : sections) {
      size += section.header.size() + 1;
      ForEachLine(section, [&](const Line& line) { size += line.text.size() + 1; });
    }
    std::string out;
    out.reserve(size);
    for (const Section& section : sections) {
      if (!section.header.empty()) {
        out += section.header;
        out += '\n';
      }
      ForEachLine(section, [&](const Line& line) {
        out += line.text;
        out += '\n';
      });
    }
    return out;
  }
};

namespace {

// ---- the process-wide cache of parsed files ----

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec mtime{};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

struct CacheEntry {
  FileIdentity identity;
  std::shared_ptr<const std::string> bytes;  // set when the document is not parsed yet
  std::shared_ptr<const IniDocument> document;
};

std::mutex cacheMutex;
std::unordered_map<std::string, CacheEntry>& Cache() {
  static std::unordered_map<std::string, CacheEntry> cache;
  return cache;
}

std::shared_ptr<const std::string> ReadWhole(int fd, off_t sizeHint) {
  auto bytes = std::make_shared<std::string>();
  // One byte more than expected, so the read that finds the end needs no growing.
  bytes->resize(sizeHint > 0 ? static_cast<std::size_t>(sizeHint) + 1 : 4096);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes->size()) bytes->resize(bytes->size() + 65536);
    const ssize_t n = ::read(fd, bytes->data() + used, bytes->size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return nullptr;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  bytes->resize(used);
  return bytes;
}

std::shared_ptr<const IniDocument> Parsed(std::shared_ptr<const std::string> bytes) {
  auto document = std::make_shared<IniDocument>();
  document->Parse(std::move(bytes));
  document->exists = true;
  return document;
}

// The document of the file as it is now; null when there is no readable file.
std::shared_ptr<const IniDocument> Load(const QString& path) {
  const std::string native = QFile::encodeName(path).toStdString();
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  {
    std::lock_guard lock(cacheMutex);
    const auto it = Cache().find(native);
    if (it != Cache().end() && it->second.identity == IdentityOf(st)) {
      if (!it->second.document) {
        it->second.document = Parsed(std::move(it->second.bytes));
        it->second.bytes.reset();
      }
      return it->second.document;
    }
  }
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto bytes = ReadWhole(fd, st.st_size);
  const bool identified = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!bytes) return nullptr;
  auto document = Parsed(std::move(bytes));
  if (identified) {
    std::lock_guard lock(cacheMutex);
    Cache()[native] = CacheEntry{IdentityOf(st), nullptr, document};
  }
  return document;
}

void Publish(const QString& path, std::shared_ptr<const std::string> bytes) {
  const std::string native = QFile::encodeName(path).toStdString();
  struct stat st {};
  std::lock_guard lock(cacheMutex);
  if (::stat(native.c_str(), &st) != 0)
    Cache().erase(native);
  else
    Cache()[native] = CacheEntry{IdentityOf(st), std::move(bytes), nullptr};
}

const IniDocument& EmptyDocument() {
  static const IniDocument empty;
  return empty;
}

// A value as the reader gets it back: without one pair of enclosing quotes.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

QString DecodeValue(std::string_view raw, int maxChars) {
  QString value = decodeText(Unquote(raw));
  if (maxChars >= 0 && value.size() > maxChars) {
    qsizetype cut = maxChars;
    if (cut > 0 && value.at(cut - 1).isHighSurrogate()) --cut;
    value.truncate(cut);
  }
  return value;
}

// A value as it is stored so that it reads back unchanged: one line, quoted when blanks at its
// ends or enclosing quotes would otherwise be lost. Written into `out`, which is reused.
void Encode(QStringView value, std::string& out) {
  out.resize(static_cast<std::size_t>(value.size()) * 3 + 2);
  char* begin = out.data() + 1;
  char* end = begin;
  for (const QChar c : value) {
    if (c.unicode() >= 0x80) {
      QStringEncoder encoder(QStringEncoder::Utf8);
      end = encoder.appendToBuffer(begin, value);
      break;
    }
    *end++ = static_cast<char>(c.unicode());
  }
  for (char* p = begin; p != end; ++p)
    if (*p == '\n' || *p == '\r') *p = ' ';
  const std::size_t size = static_cast<std::size_t>(end - begin);
  const bool needsQuotes =
      size > 0 && (IsBlank(begin[0]) || IsBlank(end[-1]) ||
                   ((begin[0] == '"' || begin[0] == '\'') && size >= 2 && end[-1] == begin[0]));
  if (needsQuotes) {
    out[0] = '"';
    *end = '"';
    out.resize(size + 2);
  } else {
    out.erase(0, 1);
    out.resize(size);
  }
}

}  // namespace

// ---- IniWriteError ----

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error((QStringLiteral("Unable to write to ") + path).toStdString()),
      path_(path) {}

QString IniWriteError::message() const {
  return QStringLiteral("Unable to write to ") + path_;
}

// ---- IniFile ----

IniFile::IniFile(QString path) : path_(std::move(path)) {}
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

const IniDocument& IniFile::doc() const {
  if (pending_) return *pending_;
  if (!snapshot_) snapshot_ = Load(path_);
  return snapshot_ ? *snapshot_ : EmptyDocument();
}

std::shared_ptr<const IniDocument> IniFile::snapshot() const {
  doc();
  return snapshot_;
}

IniDocument& IniFile::mutableDoc() {
  if (!pending_) pending_ = std::make_shared<IniDocument>(doc());
  return *pending_;
}

QString IniFile::readString(std::string_view section, std::string_view key, const QString& def,
                            int maxChars) const {
  const IniDocument& d = doc();
  const Section* found = d.Find(section, hint_);
  const Line* line = found ? d.FindKey(*found, key) : nullptr;
  return line ? DecodeValue(line->value, maxChars) : def;
}

void IniFile::readStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                          QString* values, int maxChars) const {
  const IniDocument& d = doc();
  const Section* found = d.Find(section, hint_);
  for (const std::string_view key : keys) {
    const Line* line = found ? d.FindKey(*found, key) : nullptr;
    *values++ = line ? DecodeValue(line->value, maxChars) : QString();
  }
}

void IniFile::readRawStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                             std::string_view* values) const {
  const IniDocument& d = doc();
  const Section* found = d.Find(section, hint_);
  for (const std::string_view key : keys) {
    const Line* line = found ? d.FindKey(*found, key) : nullptr;
    *values++ = line ? Unquote(line->value) : std::string_view();
  }
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
  const IniDocument& d = doc();
  const Section* found = d.Find(section, hint_);
  const Line* line = found ? d.FindKey(*found, key) : nullptr;
  return line ? parseProfileInteger(Unquote(line->value), def) : def;
}

bool IniFile::sectionExists(std::string_view section) const {
  return doc().Find(section, hint_) != nullptr;
}

bool IniFile::fileExists() const {
  return doc().exists;
}

void IniFile::writeStrings(std::string_view section, std::initializer_list<KeyValue> values) {
  IniDocument& d = mutableDoc();
  Section* target = &d.FindOrAdd(section, hint_);
  thread_local std::string encoded;
  for (const KeyValue& kv : values) {
    Encode(kv.value, encoded);
    if (Line* line = d.FindKey(*target, kv.key)) {
      if (line->value == encoded) continue;
      const std::size_t keySize = line->key.size();
      const bool cr = !line->text.empty() && line->text.back() == '\r';
      const std::string_view stored = d.arena.Store({line->key, "=", encoded, cr ? "\r" : ""});
      *line = {stored, stored.substr(0, keySize), stored.substr(keySize + 1, encoded.size())};
    } else {
      const std::string_view stored = d.arena.Store({kv.key, "=", encoded, d.crlf ? "\r" : ""});
      d.AddKey(*target, Line{stored, stored.substr(0, kv.key.size()),
                             stored.substr(kv.key.size() + 1, encoded.size())});
    }
    dirty_ = true;
  }
}

void IniFile::writeString(std::string_view section, std::string_view key, const QString& value) {
  writeStrings(section, {{key, value}});
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, QString::number(value));
}

void IniFile::commit() {
  if (!pending_ || !dirty_) return;
  auto bytes = std::make_shared<const std::string>(pending_->Serialize());
  if (!writeFileAtomically(path_, *bytes)) throw IniWriteError(path_);
  dirty_ = false;
  pending_->exists = true;
  Publish(path_, std::move(bytes));
}

// ---- integers ----

int parseProfileInteger(std::string_view text, int def) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || (base == 16 && text.size() > 8)) return def;
  std::uint64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return def;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (base == 10 && value > static_cast<std::uint64_t>(INT_MAX) + 1) return def;
  }
  if (base == 16) {
    // Up to eight hexadecimal digits are a 32-bit pattern: "$FFFFFFFF" is -1.
    const auto pattern = static_cast<std::uint32_t>(value);
    const auto result = static_cast<std::int32_t>(pattern);
    return negative ? static_cast<int>(-static_cast<std::int64_t>(result)) : result;
  }
  if (!negative && value > static_cast<std::uint64_t>(INT_MAX)) return def;
  return negative ? static_cast<int>(-static_cast<std::int64_t>(value)) : static_cast<int>(value);
}

}  // namespace platform
