// Threading: an IniFile belongs to the thread that made it; the cache of parsed files is shared
// by all threads and guarded by cacheMutex. Parsed documents are immutable once published, so
// they are read without a lock.
#include "platform/inifile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
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

struct Section {
  std::string_view header;  // "[name]" as stored; empty for the lines before the first section
  std::string_view name;    // trimmed
  std::vector<Line> lines;
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

std::string Fold(std::string_view name) {
  if (!IsAscii(name)) return decodeText(name).toCaseFolded().toStdString();
  std::string folded(name);
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
  }
  return Fold(a) == Fold(b);
}

// Stable storage for lines written after parsing; chunks are shared with copies of the document
// and never written again once another document may see them.
class Arena {
 public:
  std::string_view Store(std::string_view text) {
    if (text.size() > kChunk / 4) {
      auto chunk = std::shared_ptr<char[]>(new char[text.size()]);
      std::copy(text.begin(), text.end(), chunk.get());
      chunks_.push_back(chunk);
      return {chunk.get(), text.size()};
    }
    if (!current_ || kChunk - used_ < text.size()) {
      current_ = std::shared_ptr<char[]>(new char[kChunk]);
      chunks_.push_back(current_);
      used_ = 0;
    }
    char* at = current_.get() + used_;
    std::copy(text.begin(), text.end(), at);
    used_ += text.size();
    return {at, text.size()};
  }
  // A copy shares the chunks but writes into fresh ones.
  Arena(const Arena& other) : chunks_(other.chunks_) {}
  Arena() = default;
  Arena& operator=(const Arena&) = delete;

 private:
  static constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::shared_ptr<char[]>> chunks_;
  std::shared_ptr<char[]> current_;
  std::size_t used_ = 0;
};

}  // namespace

struct IniDocument {
  std::shared_ptr<const std::string> buffer;  // the file's bytes the lines point into
  Arena arena;
  std::vector<Section> sections;  // sections[0] holds the lines before the first section
  std::unordered_map<std::string, std::uint32_t> index;  // folded name -> first section
  bool exists = false;

  const Section* Find(std::string_view name) const {
    const auto it = index.find(Fold(name));
    return it == index.end() ? nullptr : &sections[it->second];
  }
  Section* Find(std::string_view name) {
    return const_cast<Section*>(static_cast<const IniDocument*>(this)->Find(name));
  }
  static const Line* FindKey(const Section& section, std::string_view key) {
    for (const Line& line : section.lines)
      if (!line.key.empty() && SameName(line.key, key)) return &line;
    return nullptr;
  }

  void Parse(std::shared_ptr<const std::string> bytes) {
    buffer = std::move(bytes);
    std::string_view rest(*buffer);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    sections.clear();
    index.clear();
    sections.push_back({});
    // A rough count of sections keeps the index from rehashing while it grows.
    index.reserve(rest.size() / 128 + 8);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::string_view text = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      const std::string_view trimmed = Trim(text);
      if (!trimmed.empty() && trimmed.front() == '[') {
        std::string_view name = trimmed.substr(1);
        name = Trim(name.substr(0, name.find(']')));
        sections.push_back({text, name, {}});
        index.try_emplace(Fold(name), static_cast<std::uint32_t>(sections.size() - 1));
        continue;
      }
      Line line{text, {}, {}};
      if (const std::size_t eq = text.find('='); eq != std::string_view::npos) {
        line.key = Trim(text.substr(0, eq));
        line.value = Trim(text.substr(eq + 1));
      }
      sections.back().lines.push_back(line);
    }
  }

  std::string Serialize() const {
    std::size_t size = 0;
    for (const Section& section : sections) {
      size += section.header.size() + 1;
      for (const Line& line : section.lines) size += line.text.size() + 1;
    }
    std::string out;
    out.reserve(size);
    for (const Section& section : sections) {
      if (!section.header.empty()) {
        out += section.header;
        out += '\n';
      }
      for (const Line& line : section.lines) {
        out += line.text;
        out += '\n';
      }
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
  bytes->resize(sizeHint > 0 ? static_cast<std::size_t>(sizeHint) : 0);
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
  static const IniDocument empty = [] {
    IniDocument d;
    d.sections.push_back({});
    return d;
  }();
  return empty;
}

// A value as the reader gets it back: without one pair of enclosing quotes.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// A value as it is stored so that it reads back unchanged: one line, quoted when blanks at its
// ends or enclosing quotes would otherwise be lost.
std::string Encode(const QString& value) {
  std::string text = value.toStdString();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  const bool needsQuotes = !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()) ||
                                             ((text.front() == '"' || text.front() == '\'') &&
                                              text.size() >= 2 && text.back() == text.front()));
  return needsQuotes ? '"' + text + '"' : text;
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
  if (!pending_) {
    pending_ = std::make_shared<IniDocument>(doc());
  }
  return *pending_;
}

QString IniFile::readString(std::string_view section, std::string_view key, const QString& def,
                            int maxChars) const {
  const Section* found = doc().Find(section);
  if (!found) return def;
  const Line* line = IniDocument::FindKey(*found, key);
  if (!line) return def;
  QString value = decodeText(Unquote(line->value));
  if (maxChars >= 0 && value.size() > maxChars) {
    qsizetype cut = maxChars;
    if (cut > 0 && value.at(cut - 1).isHighSurrogate()) --cut;
    value.truncate(cut);
  }
  return value;
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
  const Section* found = doc().Find(section);
  if (!found) return def;
  const Line* line = IniDocument::FindKey(*found, key);
  return line ? parseProfileInteger(Unquote(line->value), def) : def;
}

bool IniFile::sectionExists(std::string_view section) const {
  return doc().Find(section) != nullptr;
}

bool IniFile::fileExists() const {
  return doc().exists;
}

void IniFile::writeString(std::string_view section, std::string_view key, const QString& value) {
  const std::string encoded = Encode(value);
  IniDocument& d = mutableDoc();
  Section* target = d.Find(section);
  if (!target) {
    std::string header = "[" + std::string(section) + "]";
    const std::string_view stored = d.arena.Store(header);
    d.sections.push_back({stored, stored.substr(1, section.size()), {}});
    d.index.try_emplace(Fold(section), static_cast<std::uint32_t>(d.sections.size() - 1));
    target = &d.sections.back();
  }
  for (Line& line : target->lines) {
    if (line.key.empty() || !SameName(line.key, key)) continue;
    if (line.value == encoded) return;
    const std::string text = std::string(line.key) + "=" + encoded;
    const std::string_view stored = d.arena.Store(text);
    line = {stored, stored.substr(0, line.key.size()), stored.substr(line.key.size() + 1)};
    dirty_ = true;
    return;
  }
  // A new key goes after the section's last line that is not blank.
  auto at = target->lines.end();
  while (at != target->lines.begin() && Trim((at - 1)->text).empty()) --at;
  const std::string text = std::string(key) + "=" + encoded;
  const std::string_view stored = d.arena.Store(text);
  target->lines.insert(at,
                       Line{stored, stored.substr(0, key.size()), stored.substr(key.size() + 1)});
  dirty_ = true;
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
