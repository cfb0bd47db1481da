// Threading: an IniFile belongs to the thread that made it; the cache of parsed files is shared
// by all threads and guarded by cacheMutex. Documents are immutable once published, so they are
// read without a lock.
//
// A document keeps the file's bytes in one buffer and knows only where each section's header
// and body (the lines up to the next header) begin and end. Parsing is therefore a scan for the
// '[' that start lines; the lines of a body are looked at only when that section is read.
// Edits copy the section list (plain records) and rewrite whole section bodies in an arena; a
// body that is the arena's last allocation grows in place, so writing a new file section by
// section copies nothing. A commit writes the sections out in one buffer, which then becomes the
// published document's own buffer: the next reader finds it parsed already.
#include "platform/inifile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/textcodec.h"

namespace platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Called for every name and value read: the common case, no blank at either end, stays inline.
inline std::string_view Trim(std::string_view s) {
  if (s.empty() || IsBlank(s.front()) || IsBlank(s.back())) return TrimBlanks(s);
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

// ---- names ----
//
// Names compare by their case-folded UTF-8 form (for ASCII simply the lower case), and the index
// hashes exactly that form, so a name and every spelling that folds to it land together.

std::string FoldedUtf8(std::string_view name, AnsiCodePage page) {
  std::string folded;
  if (IsAscii(name)) {
    folded.resize(name.size());
    std::transform(name.begin(), name.end(), folded.begin(), LowerAscii);
    return folded;
  }
  const QString text = isValidUtf8(name) ? decodeUtf8(name) : decodeAnsi(name, page);
  return text.toCaseFolded().toUtf8().toStdString();
}

// FNV-1a over the folded bytes, then mixed: the table masks the low bits, which FNV alone mixes
// poorly.
template <class Fold>
std::uint64_t HashBytes(std::string_view bytes, Fold&& fold) {
  std::uint64_t h = 1469598103934665603ULL;
  for (const char c : bytes) h = (h ^ static_cast<unsigned char>(fold(c))) * 1099511628211ULL;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return h;
}

// A name the caller asked for; the folded form is made only when a comparison or the index
// needs it, which for ASCII names is never.
class Name {
 public:
  Name(std::string_view raw, AnsiCodePage page)
      : text_(Trim(raw)), ascii_(IsAscii(text_)), page_(page) {}
  // With its hash worked out already.
  Name(std::string_view raw, AnsiCodePage page, std::uint64_t hash) : Name(raw, page) {
    hash_ = hash;
  }
  std::string_view text() const { return text_; }
  bool ascii() const { return ascii_; }
  const std::string& Folded() const {
    if (!folded_) folded_ = FoldedUtf8(text_, page_);
    return *folded_;
  }
  std::uint64_t Hash() const {
    if (!hash_)
      hash_ = ascii_ ? HashBytes(text_, LowerAscii) : HashBytes(Folded(), [](char c) { return c; });
    return *hash_;
  }

 private:
  std::string_view text_;
  bool ascii_;
  AnsiCodePage page_;
  mutable std::optional<std::string> folded_;
  mutable std::optional<std::uint64_t> hash_;
};

bool Matches(const Name& name, std::string_view stored, AnsiCodePage page) {
  const std::string_view text = name.text();
  if (name.ascii()) {
    // An ASCII character folds only to itself, so a first character that differs settles it.
    if (!stored.empty() && !text.empty() && static_cast<unsigned char>(stored[0]) < 0x80 &&
        LowerAscii(stored[0]) != LowerAscii(text[0]))
      return false;
    if (stored.size() == text.size()) {
      std::size_t i = 0;
      for (; i < stored.size(); ++i) {
        const char a = stored[i];
        if (a == text[i]) continue;
        if (static_cast<unsigned char>(a) >= 0x80) break;
        if (LowerAscii(a) != LowerAscii(text[i])) return false;
      }
      if (i == stored.size()) return true;
    } else if (IsAscii(stored)) {
      return false;
    }
  }
  return FoldedUtf8(stored, page) == name.Folded();
}

// ---- storage ----

// Large buffers are mapped on their own, in huge pages where the system gives them: read into
// ordinary pages, a list of 100,000 tracks takes some 5,000 page faults, which cost more than
// reading it.
struct BufferFree {
  std::size_t mapped = 0;  // 0: from new[]
  void operator()(char* data) const {
    if (mapped)
      ::munmap(data, mapped);
    else
      delete[] data;
  }
};
using Buffer = std::unique_ptr<char[], BufferFree>;

Buffer AllocateBuffer(std::size_t size) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size >= 2 * kHuge) {
    const std::size_t mapped = (size + kHuge - 1) / kHuge * kHuge;
    // Room to align the start to a huge page; the rest is given back.
    void* at = ::mmap(nullptr, mapped + kHuge, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (at != MAP_FAILED) {
      const auto start = reinterpret_cast<std::uintptr_t>(at);
      const std::uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
      if (aligned > start) ::munmap(at, aligned - start);
      if (aligned + mapped < start + mapped + kHuge)
        ::munmap(reinterpret_cast<void*>(aligned + mapped), start + kHuge - aligned);
      auto* data = reinterpret_cast<char*>(aligned);
      ::madvise(data, mapped, MADV_HUGEPAGE);
      return Buffer(data, BufferFree{mapped});
    }
  }
  return Buffer(new char[std::max<std::size_t>(size, 1)]);
}

// Immutable file bytes shared by the documents that point into them.
struct Bytes {
  Buffer data;
  std::size_t size = 0;
  std::string_view View() const { return {data.get(), size}; }
};
using SharedBytes = std::shared_ptr<const Bytes>;

// Stable storage for text written after parsing. Only a document being edited has one, and
// nothing else points into it, so the last allocation may be rewritten in place.
class Arena {
 public:
  char* Allocate(std::size_t size) {
    if (capacity_ - used_ < size) {
      // Twice the size, so a body that keeps growing moves only now and then. Chunks start
      // small and double up to kChunk: one edit of a small file costs no megabyte.
      const std::size_t grown = std::min(kChunk, std::max(kFirstChunk, capacity_ * 2));
      const std::size_t chunk = std::max(grown, size * 2);
      chunks_.push_back(std::make_unique_for_overwrite<char[]>(chunk));
      current_ = chunks_.back().get();
      capacity_ = chunk;
      used_ = 0;
    }
    char* at = current_ + used_;
    used_ += size;
    return at;
  }
  // Whether `text` is the last allocation (or its end), so that it may change size in place.
  bool IsLast(std::string_view text) const {
    const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    const auto chunk = reinterpret_cast<std::uintptr_t>(current_);
    return current_ && begin >= chunk && begin + text.size() == chunk + used_;
  }
  std::size_t Room() const { return capacity_ - used_; }
  void Resize(std::size_t oldSize, std::size_t newSize) { used_ = used_ - oldSize + newSize; }

 private:
  static constexpr std::size_t kFirstChunk = 4096;
  static constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::unique_ptr<char[]>> chunks_;
  char* current_ = nullptr;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
};

struct Section {
  std::string_view header;  // the header line as stored, with its line end; empty for section 0
  std::string_view name;    // trimmed; inside `header`
  std::string_view body;    // the lines up to the next header, with their line ends
  bool firstOfName = true;  // a later section of the same name is never found
};

// One "key=value" line of a body; offsets are from the body's start.
struct KeyLine {
  std::string_view key;   // trimmed, never empty
  std::string_view rest;  // after the '=', up to the line feed
  // Trimmed, quotes not yet removed.
  std::string_view value() const { return Trim(rest); }
  std::size_t begin;       // the line's first byte
  std::size_t contentEnd;  // before the line feed
  std::size_t end;         // after the line feed
};

// Calls visit(KeyLine) for the key lines of a body until it returns false.
template <class F>
void ForEachKeyLine(std::string_view body, F&& visit) {
  const char* const start = body.data();
  const char* const end = start + body.size();
  for (const char* p = start; p < end;) {
    // Keys are short: a plain loop finds the '=' sooner than a library call would.
    const char* key = p;
    while (key < end && IsBlank(*key)) ++key;
    const char* eq = key;
    while (eq < end && *eq != '=' && *eq != '\n') ++eq;
    const char* feed = eq < end && *eq == '\n' ? eq : nullptr;
    if (eq < end && *eq == '=')
      feed = static_cast<const char*>(
          std::memchr(eq + 1, '\n', static_cast<std::size_t>(end - eq - 1)));
    const char* contentEnd = feed ? feed : end;
    const char* next = feed ? feed + 1 : end;
    if (eq < contentEnd) {
      std::string_view name(key, static_cast<std::size_t>(eq - key));
      while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
      if (!name.empty()) {
        const KeyLine line{name,
                           {eq + 1, static_cast<std::size_t>(contentEnd - eq - 1)},
                           static_cast<std::size_t>(p - start),
                           static_cast<std::size_t>(contentEnd - start),
                           static_cast<std::size_t>(next - start)};
        if (!visit(line)) return;
      }
    }
    p = next;
  }
}

// The first key line of `body` for `name`.
std::optional<KeyLine> FindKeyLine(std::string_view body, const Name& name, AnsiCodePage page) {
  std::optional<KeyLine> found;
  ForEachKeyLine(body, [&](const KeyLine& line) {
    if (Matches(name, line.key, page)) found = line;
    return !found;
  });
  return found;
}

// Where the body's last key line ends (after its line feed, if it has one); 0 without keys.
// Looked for from the end, where it nearly always is.
std::size_t KeysEnd(std::string_view body) {
  std::size_t end = body.size();
  while (end > 0) {
    const std::size_t contentEnd = body[end - 1] == '\n' ? end - 1 : end;
    const std::size_t feed = body.substr(0, contentEnd).rfind('\n');
    const std::size_t start = feed == std::string_view::npos ? 0 : feed + 1;
    const std::string_view content = body.substr(start, contentEnd - start);
    const std::size_t eq = content.find('=');
    if (eq != std::string_view::npos && !Trim(content.substr(0, eq)).empty()) return end;
    end = start;
  }
  return 0;
}

bool CrlfFile(std::string_view text) {
  const std::size_t feed = text.find('\n');
  return feed != std::string_view::npos && feed > 0 && text[feed - 1] == '\r';
}

}  // namespace

// ---- the document ----

struct IniDocument {
  SharedBytes bytes;  // the file's bytes, which parsed sections point into
  // While edited: the state the edits started from (null for a file that did not exist) and the
  // storage of the rewritten text.
  std::shared_ptr<const IniDocument> base;
  std::unique_ptr<Arena> arena;
  std::vector<Section> sections;  // sections[0] holds the lines before the first section
  // Open addressing; a slot holds a name's hash in its high half and its section number + 1 in
  // the low half (0: free), so a probe rarely has to look at the section itself. Only the first
  // section of a name is entered.
  std::vector<std::uint64_t> slots;
  std::uint32_t named = 0;
  std::size_t bomSize = 0;
  AnsiCodePage page = AnsiCodePage::Windows1252;  // how the index decoded 8-bit names
  bool exists = false;
  bool unreadable = false;  // the file is there but could not be read: never replace it
  bool crlf = false;        // lines we add end as the file's first line does

  IniDocument() : page(ansiCodePage()) { sections.emplace_back(); }

  static constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;
  // The bucket comes from the stored half of the hash, so growing never rehashes a name.
  std::size_t Bucket(std::uint64_t tag) const { return (tag >> 32) & (slots.size() - 1); }

  // The section number of `name`, or 0 with the free slot where it would go.
  std::uint32_t Look(const Name& name, std::size_t* freeSlot) const {
    const std::uint64_t tag = name.Hash() & kTagMask;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Bucket(tag);; i = (i + 1) & mask) {
      const std::uint64_t slot = slots[i];
      if (slot == 0) {
        if (freeSlot) *freeSlot = i;
        return 0;
      }
      if ((slot & kTagMask) != tag) continue;
      const auto index = static_cast<std::uint32_t>(slot & ~kTagMask) - 1;
      if (Matches(name, sections[index].name, page)) return index;
    }
  }

  // Readers and writers mostly walk sections in file order, so the section after the one found
  // last is tried before the index: sequential memory instead of a cache miss per look-up.
  std::uint32_t Find(const Name& name, std::uint32_t& hint) const {
    for (const std::uint32_t at : {hint + 1, hint}) {
      if (at == 0 || at >= sections.size()) continue;
      const Section& section = sections[at];
      if (section.firstOfName && Matches(name, section.name, page)) return hint = at;
    }
    if (slots.empty()) return 0;
    const std::uint32_t found = Look(name, nullptr);
    if (found) hint = found;
    return found;
  }

  void Enter(const Name& name, std::uint32_t index, std::size_t freeSlot) {
    slots[freeSlot] = (name.Hash() & kTagMask) | (index + 1ULL);
    ++named;
  }
  void Reserve(std::size_t names) {
    std::size_t size = 64;
    while (size < names * 2) size *= 2;
    if (size <= slots.size()) return;
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

  void Parse(SharedBytes file) {
    bytes = std::move(file);
    const char* const begin = bytes->data.get();
    const char* const end = begin + bytes->size;
    if (bytes->View().substr(0, 3) == "\xEF\xBB\xBF") bomSize = 3;
    const char* const text = begin + bomSize;
    crlf = CrlfFile({text, static_cast<std::size_t>(end - text)});
    // Play lists run to some 200 bytes a section.
    sections.reserve(bytes->size / 256 + 16);
    // A header is a line whose first non-blank character is '['; finding those brackets is the
    // whole of parsing.
    const char* bodyStart = text;
    for (const char* p = text; p < end;) {
      const auto* bracket = static_cast<const char*>(std::memchr(p, '[', end - p));
      if (!bracket) break;
      const char* lineStart = bracket;
      while (lineStart > text && IsBlank(lineStart[-1])) --lineStart;
      if (lineStart > text && lineStart[-1] != '\n') {
        p = bracket + 1;
        continue;
      }
      const auto* feed = static_cast<const char*>(std::memchr(bracket, '\n', end - bracket));
      const char* next = feed ? feed + 1 : end;
      std::string_view inside(bracket + 1,
                              static_cast<std::size_t>((feed ? feed : end) - bracket - 1));
      inside = Trim(inside);
      inside = Trim(inside.substr(0, inside.find(']')));
      sections.back().body = {bodyStart, static_cast<std::size_t>(lineStart - bodyStart)};
      sections.push_back({{lineStart, static_cast<std::size_t>(next - lineStart)}, inside, {}});
      bodyStart = p = next;
    }
    sections.back().body = {bodyStart, static_cast<std::size_t>(end - bodyStart)};
    IndexParsed();
  }

  // The index of a large file is larger than the cache and each section lands in a random slot:
  // a miss a section would cost more than all the scanning. So the slots are entered after the
  // scan, each fetched some sections before it is needed.
  void IndexParsed() {
    const std::size_t count = sections.size();
    Reserve(count);
    constexpr std::size_t kAhead = 16;
    std::uint64_t ahead[kAhead];
    const auto fetch = [&](std::size_t i) {
      const std::uint64_t hash = Name(sections[i].name, page).Hash();
      __builtin_prefetch(&slots[Bucket(hash & kTagMask)]);
      ahead[i % kAhead] = hash;
    };
    for (std::size_t i = 1; i < count && i <= kAhead; ++i) fetch(i);
    for (std::size_t i = 1; i < count; ++i) {
      const Name name(sections[i].name, page, ahead[i % kAhead]);
      if (i + kAhead < count) fetch(i + kAhead);
      std::size_t freeSlot = 0;
      sections[i].firstOfName = Look(name, &freeSlot) == 0;
      if (sections[i].firstOfName) Enter(name, static_cast<std::uint32_t>(i), freeSlot);
    }
  }

  // ---- editing (only on a document of one's own) ----

  // A document to edit, starting from `from` (null: no file).
  static std::shared_ptr<IniDocument> EditableCopy(std::shared_ptr<const IniDocument> from) {
    auto copy = std::make_shared<IniDocument>();
    if (from) {
      copy->bytes = from->bytes;
      copy->sections = from->sections;
      copy->slots = from->slots;
      copy->named = from->named;
      copy->bomSize = from->bomSize;
      copy->page = from->page;
      copy->exists = from->exists;
      copy->unreadable = from->unreadable;
      copy->crlf = from->crlf;
    }
    copy->base = std::move(from);
    copy->arena = std::make_unique<Arena>();
    return copy;
  }

  std::string_view Eol() const { return crlf ? "\r\n" : "\n"; }

  // The first section of `name`, made at the end of the file when there is none.
  Section& FindOrAdd(const Name& name, std::uint32_t& hint) {
    if (const std::uint32_t found = Find(name, hint)) return sections[found];
    if ((named + 1) * 2 > slots.size()) Reserve(named + 1);
    std::size_t freeSlot = 0;
    Look(name, &freeSlot);
    const std::string_view eol = Eol();
    const std::size_t size = name.text().size() + 2 + eol.size();
    char* at = arena->Allocate(size);
    at[0] = '[';
    std::memcpy(at + 1, name.text().data(), name.text().size());
    at[name.text().size() + 1] = ']';
    std::memcpy(at + name.text().size() + 2, eol.data(), eol.size());
    const std::string_view header(at, size);
    // The empty body ends where the arena does, so the keys that follow grow it in place.
    sections.push_back({header, header.substr(1, name.text().size()), {at + size, 0}, true});
    hint = static_cast<std::uint32_t>(sections.size() - 1);
    Enter(name, hint, freeSlot);
    return sections.back();
  }

  // Replaces `remove` bytes at `at` of the section's body with the pieces of `insert`, which must
  // not point into the arena.
  void Splice(Section& section, std::size_t at, std::size_t remove,
              std::initializer_list<std::string_view> insert) {
    std::size_t added = 0;
    for (const std::string_view piece : insert) added += piece.size();
    const std::string_view body = section.body;
    const std::size_t tail = body.size() - at - remove;
    const std::size_t size = body.size() - remove + added;
    char* out;
    if (arena->IsLast(body) && (added <= remove || added - remove <= arena->Room())) {
      out = const_cast<char*>(body.data());
      std::memmove(out + at + added, out + at + remove, tail);
      arena->Resize(body.size(), size);
    } else {
      out = arena->Allocate(size);
      std::copy_n(body.data(), at, out);
      std::copy_n(body.data() + at + remove, tail, out + at + added);
    }
    char* piece = out + at;
    for (const std::string_view text : insert) piece = std::copy(text.begin(), text.end(), piece);
    section.body = {out, size};
  }

  // Stores `stored` (the value as it is to appear in the file) for `key`; `same` tells whether
  // the current stored value already reads as the new one. Returns whether anything changed.
  template <class Same>
  bool Set(Section& section, const Name& key, std::string_view stored, Same&& same) {
    if (const std::optional<KeyLine> hit = FindKeyLine(section.body, key, page)) {
      if (same(hit->value())) return false;
      // The key keeps its spelling and the line its CR, if it had one.
      thread_local std::string spelling;
      spelling.assign(hit->key);
      const bool cr = hit->contentEnd > hit->begin && section.body[hit->contentEnd - 1] == '\r';
      Splice(section, hit->begin, hit->contentEnd - hit->begin,
             {spelling, "=", stored, cr ? "\r" : ""});
      return true;
    }
    // After the section's last key line; that line may be the file's last, without a line feed.
    const std::size_t at = KeysEnd(section.body);
    const bool feed = at > 0 && section.body[at - 1] != '\n';
    Splice(section, at, 0, {feed ? Eol() : "", key.text(), "=", stored, Eol()});
    return true;
  }

  // Deletes every line of `key`: a later line of the same key would otherwise be read instead.
  // Returns whether there was one.
  bool Remove(Section& section, const Name& key) {
    bool removed = false;
    while (const std::optional<KeyLine> hit = FindKeyLine(section.body, key, page)) {
      Splice(section, hit->begin, hit->end - hit->begin, {});
      removed = true;
    }
    return removed;
  }
};

namespace {

// ---- reading and writing whole files ----

SharedBytes ReadWhole(int fd, off_t sizeHint) {
  auto bytes = std::make_shared<Bytes>();
  // One byte more than expected, so the read that finds the end needs no growing.
  std::size_t capacity = sizeHint > 0 ? static_cast<std::size_t>(sizeHint) + 1 : 4096;
  bytes->data = AllocateBuffer(capacity);
  for (;;) {
    if (bytes->size == capacity) {
      capacity *= 2;
      Buffer bigger = AllocateBuffer(capacity);
      std::memcpy(bigger.get(), bytes->data.get(), bytes->size);
      bytes->data = std::move(bigger);
    }
    const ssize_t n = ::read(fd, bytes->data.get() + bytes->size, capacity - bytes->size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return nullptr;
    }
    if (n == 0) break;
    bytes->size += static_cast<std::size_t>(n);
  }
  return bytes;
}

// The document's text in one buffer, with where each section's header landed.
struct Serialized {
  SharedBytes bytes;
  std::vector<std::size_t> headers;  // offsets; headers[0] is unused
};

Serialized Serialize(const IniDocument& from) {
  const std::string_view eol = from.Eol();
  std::size_t bound = from.bomSize;
  for (const Section& section : from.sections)
    bound += section.header.size() + section.body.size() + 2 * eol.size();
  auto bytes = std::make_shared<Bytes>();
  bytes->data = AllocateBuffer(bound);
  char* const begin = bytes->data.get();
  if (from.bomSize > 0) std::memcpy(begin, from.bytes->data.get(), from.bomSize);
  char* const text = begin + from.bomSize;
  char* out = text;
  // Text after a last line that had no line feed starts on a line of its own.
  const auto put = [&](std::string_view piece) {
    if (piece.empty()) return;
    if (out != text && out[-1] != '\n') out = std::copy(eol.begin(), eol.end(), out);
    out = std::copy(piece.begin(), piece.end(), out);
  };
  Serialized result;
  result.headers.resize(from.sections.size());
  for (std::size_t i = 0; i < from.sections.size(); ++i) {
    const Section& section = from.sections[i];
    put(section.header);
    result.headers[i] = static_cast<std::size_t>(out - begin) - section.header.size();
    put(section.body);
  }
  bytes->size = static_cast<std::size_t>(out - begin);
  result.bytes = std::move(bytes);
  return result;
}

// The document over the written bytes, exactly as parsing them would give: the section numbers,
// and so the index, stay as they are. Takes the sections and index from `from`.
std::shared_ptr<IniDocument> Rebased(IniDocument& from, Serialized written) {
  auto document = std::make_shared<IniDocument>();
  const char* const begin = written.bytes->data.get();
  const char* const text = begin + from.bomSize;
  const char* const end = begin + written.bytes->size;
  document->sections = std::move(from.sections);
  std::vector<Section>& sections = document->sections;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    Section& section = sections[i];
    const char* bodyStart = text;
    if (i > 0) {
      const char* header = begin + written.headers[i];
      const auto nameAt = static_cast<std::size_t>(section.name.data() - section.header.data());
      const auto* feed = static_cast<const char*>(std::memchr(header, '\n', end - header));
      bodyStart = feed ? feed + 1 : end;
      section.header = {header, static_cast<std::size_t>(bodyStart - header)};
      section.name = section.header.substr(nameAt, section.name.size());
    }
    const char* bodyEnd = i + 1 < sections.size() ? begin + written.headers[i + 1] : end;
    section.body = {bodyStart, static_cast<std::size_t>(bodyEnd - bodyStart)};
  }
  document->slots = std::move(from.slots);
  document->named = from.named;
  document->bomSize = from.bomSize;
  document->page = from.page;
  document->exists = true;
  document->crlf = CrlfFile({text, static_cast<std::size_t>(end - text)});
  document->bytes = std::move(written.bytes);
  return document;
}

// ---- the process-wide cache of parsed files ----

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec mtime{};
  // Any write or change of the times also sets the change time, which no program can set back.
  timespec ctime{};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

timespec Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// File times advance in steps (a clock tick on local file systems, whole seconds on some
// others), so a change made just after we read the file may leave its identity as it was. Until
// the file's times are a step older than our reading, its content is compared before reuse.
bool MayHaveChangedUnseen(const FileIdentity& identity, const timespec& readAt) {
  const bool wholeSeconds = identity.mtime.tv_nsec == 0 && identity.ctime.tv_nsec == 0;
  const std::int64_t step = wholeSeconds ? 2000000000 : 50000000;
  const std::int64_t newest = std::max(Nanoseconds(identity.mtime), Nanoseconds(identity.ctime));
  return newest + step >= Nanoseconds(readAt);
}

struct CacheEntry {
  FileIdentity identity;
  std::shared_ptr<const IniDocument> document;
  timespec readAt{};  // taken before the bytes were read (or written)
  std::uint64_t lastUse = 0;
};

// Parsed files stay while they fit; the least recently used go first.
constexpr std::size_t kCacheBytes = std::size_t{256} << 20;
constexpr std::size_t kCacheFiles = 64;

std::mutex cacheMutex;
std::unordered_map<std::string, CacheEntry>& Cache() {
  static std::unordered_map<std::string, CacheEntry> cache;
  return cache;
}
std::uint64_t useClock = 0;

void Remember(const std::string& native, const FileIdentity& identity,
              std::shared_ptr<const IniDocument> document, const timespec& readAt) {
  auto& cache = Cache();
  cache[native] = CacheEntry{identity, std::move(document), readAt, ++useClock};
  for (;;) {
    std::size_t bytes = 0;
    auto oldest = cache.end();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
      bytes += it->second.document->bytes->size;
      if (oldest == cache.end() || it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    if (cache.size() <= 1 || (bytes <= kCacheBytes && cache.size() <= kCacheFiles)) return;
    cache.erase(oldest);
  }
}

void Forget(const std::string& native) {
  std::lock_guard lock(cacheMutex);
  Cache().erase(native);
}

const std::shared_ptr<const IniDocument>& Missing() {
  static const auto missing = std::make_shared<const IniDocument>();
  return missing;
}

// Reads give defaults and a commit refuses to replace what it could not read.
std::shared_ptr<const IniDocument> Unreadable() {
  auto document = std::make_shared<IniDocument>();
  document->exists = true;
  document->unreadable = true;
  return document;
}

std::shared_ptr<const IniDocument> Parsed(SharedBytes bytes) {
  auto document = std::make_shared<IniDocument>();
  document->Parse(std::move(bytes));
  document->exists = true;
  return document;
}

// The document of the file as it is now: Missing() when there is no file.
std::shared_ptr<const IniDocument> Load(const QString& path) {
  const std::string native = QFile::encodeName(path).toStdString();
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return Unreadable();
    Forget(native);
    return Missing();
  }
  if (!S_ISREG(st.st_mode)) return Unreadable();
  std::shared_ptr<const IniDocument> cached;
  {
    std::lock_guard lock(cacheMutex);
    const auto it = Cache().find(native);
    if (it != Cache().end() && it->second.identity == IdentityOf(st)) {
      it->second.lastUse = ++useClock;
      if (!MayHaveChangedUnseen(it->second.identity, it->second.readAt)) return it->second.document;
      cached = it->second.document;
    }
  }
  const timespec readAt = Now();
  // Not blocking: a pipe put in the file's place since the stat must not hang the reader.
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? Missing() : Unreadable();
  struct stat before {};
  struct stat after {};
  SharedBytes bytes;
  if (::fstat(fd, &before) == 0 && S_ISREG(before.st_mode)) bytes = ReadWhole(fd, before.st_size);
  // A file written to while we read it is not remembered.
  const bool steady = bytes && ::fstat(fd, &after) == 0 && IdentityOf(before) == IdentityOf(after);
  ::close(fd);
  if (!bytes) return Unreadable();
  std::shared_ptr<const IniDocument> document =
      cached && cached->bytes->View() == bytes->View() ? cached : Parsed(std::move(bytes));
  if (steady) {
    std::lock_guard lock(cacheMutex);
    Remember(native, IdentityOf(after), document, readAt);
  }
  return document;
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
  const qsizetype limit = std::max(maxChars, 0);
  if (value.size() > limit) {
    qsizetype cut = limit;
    if (cut > 0 && value.at(cut - 1).isHighSurrogate()) --cut;
    value.truncate(cut);
  }
  return value;
}

// The value as it is stored so that it reads back unchanged: UTF-8 on one line (CR and LF become
// blanks), quoted when blanks at its ends or enclosing quotes would otherwise be lost. A lone
// surrogate becomes U+FFFD. Returns the unquoted part.
std::string_view EncodeValue(QStringView value, std::string& out) {
  const auto blank = [](char16_t c) {
    return c < 0x80 && (IsBlank(static_cast<char>(c)) || c == '\n');
  };
  const bool quoted = !value.isEmpty() &&
                      (blank(value.front().unicode()) || blank(value.back().unicode()) ||
                       (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                        value.back() == value.front()));
  out.resize(static_cast<std::size_t>(value.size()) * 3 + 2);
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  if (quoted) *o++ = '"';
  const char16_t* p = value.utf16();
  const char16_t* const end = p + value.size();
  while (p < end) {
    char32_t c = *p++;
    if (c < 0x80) {
      *o++ = static_cast<unsigned char>(c == '\r' || c == '\n' ? ' ' : c);
    } else if (c < 0x800) {
      *o++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
      *o++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *o++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
      *o++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
  }
  if (quoted) *o++ = '"';
  out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
  const std::string_view stored = out;
  return quoted ? stored.substr(1, stored.size() - 2) : stored;
}

// Names that would not read back as written are refused rather than stored damaged: a key
// holding '=' would split, a line feed would start a new line, a ']' would end a section name.
bool Holds(std::string_view name, char forbidden) {
  for (const char c : name)
    if (c == forbidden || c == '\r' || c == '\n') return true;
  return false;
}

std::string_view CheckedSection(std::string_view name) {
  name = Trim(name);
  if (Holds(name, ']'))
    throw std::invalid_argument("a section name cannot hold ']' or a line break");
  return name;
}

std::string_view CheckedKey(std::string_view name) {
  name = Trim(name);
  if (name.empty() || name.front() == '[' || Holds(name, '='))
    throw std::invalid_argument(
        "a key must be non-empty and cannot start with '[' or hold '=' or a line break");
  return name;
}

// Our changes in `edited`, applied again onto `current`: another writer replaced the file after
// we read it, and its changes must not be lost. A key counts as ours when its value differs from
// the one it had when the edits started.
std::shared_ptr<IniDocument> Replay(const IniDocument& edited,
                                    std::shared_ptr<const IniDocument> current) {
  auto merged = IniDocument::EditableCopy(std::move(current));
  const IniDocument* base = edited.base.get();
  std::uint32_t hint = 0;
  for (std::size_t i = 1; i < edited.sections.size(); ++i) {
    const Section& section = edited.sections[i];
    const Section* before = base && i < base->sections.size() ? &base->sections[i] : nullptr;
    if (before && before->body.data() == section.body.data() &&
        before->body.size() == section.body.size())
      continue;
    Section& target = merged->FindOrAdd(Name(section.name, merged->page), hint);
    if (before) {
      ForEachKeyLine(before->body, [&](const KeyLine& line) {
        if (!FindKeyLine(section.body, Name(line.key, edited.page), edited.page))
          merged->Remove(target, Name(line.key, merged->page));
        return true;
      });
    }
    ForEachKeyLine(section.body, [&](const KeyLine& line) {
      const Name key(line.key, edited.page);
      // Only the first line of a key is the one reads see and writes change.
      if (FindKeyLine(section.body, key, edited.page)->begin != line.begin) return true;
      if (before) {
        const std::optional<KeyLine> old = FindKeyLine(before->body, key, edited.page);
        if (old && old->value() == line.value()) return true;
      }
      merged->Set(target, Name(line.key, merged->page), line.value(),
                  [&](std::string_view now) { return now == line.value(); });
      return true;
    });
  }
  return merged;
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

IniFile IniFile::fromBytes(std::string_view bytes) {
  IniFile file{QString()};
  auto copy = std::make_shared<Bytes>();
  copy->data = AllocateBuffer(bytes.size());
  if (!bytes.empty()) std::memcpy(copy->data.get(), bytes.data(), bytes.size());
  copy->size = bytes.size();
  file.snapshot_ = Parsed(std::move(copy));
  return file;
}
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

const IniDocument& IniFile::doc() const {
  if (pending_) return *pending_;
  if (!snapshot_) snapshot_ = Load(path_);
  return *snapshot_;
}

std::shared_ptr<const IniDocument> IniFile::snapshot() const {
  if (!snapshot_) snapshot_ = Load(path_);
  return snapshot_ == Missing() ? nullptr : snapshot_;
}

IniDocument& IniFile::mutableDoc() {
  if (!pending_) {
    if (!snapshot_) snapshot_ = Load(path_);
    pending_ = IniDocument::EditableCopy(snapshot_ == Missing() ? nullptr : snapshot_);
  }
  return *pending_;
}

namespace {

// The values of `keys` in one section, with one pass over its body: found(i, raw value).
template <class Found>
void FindValues(const IniDocument& d, std::string_view section, const std::string_view* keys,
                std::size_t count, std::uint32_t& hint, Found&& found) {
  const std::uint32_t index = d.Find(Name(section, d.page), hint);
  if (index == 0 || count == 0) return;
  const std::string_view body = d.sections[index].body;
  if (count == 1) {
    if (const std::optional<KeyLine> line = FindKeyLine(body, Name(keys[0], d.page), d.page))
      found(0, line->value());
    return;
  }
  // Up to a handful of keys per call; more are looked for in groups.
  constexpr std::size_t kGroup = 8;
  for (std::size_t first = 0; first < count; first += kGroup) {
    const std::size_t n = std::min(kGroup, count - first);
    std::optional<Name> names[kGroup];
    for (std::size_t i = 0; i < n; ++i) names[i].emplace(keys[first + i], d.page);
    std::size_t missing = n;
    bool done[kGroup] = {};
    ForEachKeyLine(body, [&](const KeyLine& line) {
      for (std::size_t i = 0; i < n; ++i) {
        if (done[i] || !Matches(*names[i], line.key, d.page)) continue;
        done[i] = true;
        --missing;
        found(first + i, line.value());
      }
      return missing > 0;
    });
  }
}

}  // namespace

QString IniFile::readString(std::string_view section, std::string_view key, const QString& def,
                            int maxChars) const {
  QString value = def;
  FindValues(doc(), section, &key, 1, hint_,
             [&](std::size_t, std::string_view raw) { value = DecodeValue(raw, maxChars); });
  return value;
}

void IniFile::readStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                          QString* values, int maxChars) const {
  std::fill(values, values + keys.size(), QString());
  FindValues(doc(), section, keys.begin(), keys.size(), hint_,
             [&](std::size_t i, std::string_view raw) { values[i] = DecodeValue(raw, maxChars); });
}

void IniFile::readRawStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                             std::string_view* values) const {
  std::fill(values, values + keys.size(), std::string_view());
  FindValues(doc(), section, keys.begin(), keys.size(), hint_,
             [&](std::size_t i, std::string_view raw) { values[i] = Unquote(raw); });
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
  int value = def;
  FindValues(doc(), section, &key, 1, hint_, [&](std::size_t, std::string_view raw) {
    value = parseProfileInteger(Unquote(raw), def);
  });
  return value;
}

bool IniFile::sectionExists(std::string_view section) const {
  const IniDocument& d = doc();
  return d.Find(Name(section, d.page), hint_) != 0;
}

bool IniFile::fileExists() const {
  return doc().exists;
}

bool IniFile::unreadable() const {
  return doc().unreadable;
}

std::vector<int> IniFile::indexedSections(std::string_view suffix, int below) const {
  std::vector<int> found;
  const IniDocument& d = doc();
  const Name wanted(suffix, d.page);
  for (std::size_t i = 1; i < d.sections.size(); ++i) {
    const Section& section = d.sections[i];
    const std::string_view name = section.name;
    std::size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (!section.firstOfName || digits == 0 || digits > 10 || (digits > 1 && name[0] == '0'))
      continue;
    long long index = 0;
    for (std::size_t k = 0; k < digits; ++k) index = index * 10 + (name[k] - '0');
    if (index >= below || !Matches(wanted, name.substr(digits), d.page)) continue;
    found.push_back(static_cast<int>(index));
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string IniFile::text() const {
  return std::string(Serialize(doc()).bytes->View());
}

int IniFile::entryCount(std::string_view suffix, int count) const {
  if (count <= 0) return 0;
  if (count <= sectionCount() && sectionExists(std::to_string(count - 1).append(suffix)))
    return count;
  const std::vector<int> present = indexedSections(suffix, count);
  int entries = 0;
  for (std::size_t j = 0; j < present.size(); ++j) {
    const auto index = static_cast<std::size_t>(present[j]);
    if (index - j <= j + 1) entries = present[j] + 1;
  }
  return entries;
}

int IniFile::sectionCount() const {
  return static_cast<int>(doc().sections.size()) - 1;
}

namespace {

// Whether the raw line value `current` already reads as `value`, whose stored form is `stored`
// and whose unquoted form is `plain`.
bool SameValue(std::string_view current, std::string_view stored, std::string_view plain,
               QStringView value) {
  if (current == stored) return true;
  const std::string_view read = Unquote(current);
  if (read == plain) return true;
  return !isValidUtf8(read) && decodeAnsi(read, ansiCodePage()) == value;
}

}  // namespace

bool IniFile::AsStored(std::string_view section, std::initializer_list<KeyValue> values) const {
  const IniDocument& d = doc();
  if (d.Find(Name(section, d.page), hint_) == 0) return false;
  // One pass over the section for the handful of keys a record has.
  constexpr std::size_t kMost = 8;
  if (values.size() > kMost) return false;
  std::string_view keys[kMost];
  std::optional<std::string_view> current[kMost];
  std::transform(values.begin(), values.end(), keys, [](const KeyValue& kv) { return kv.key; });
  FindValues(d, section, keys, values.size(), hint_,
             [&](std::size_t i, std::string_view raw) { current[i] = raw; });
  thread_local std::string stored;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const KeyValue& kv = values.begin()[i];
    if (kv.remove) {
      if (current[i]) return false;
      continue;
    }
    if (!current[i]) return false;
    const std::string_view plain = EncodeValue(kv.value, stored);
    if (!SameValue(*current[i], stored, plain, kv.value)) return false;
  }
  return true;
}

std::uint32_t IniFile::writeStrings(std::string_view section,
                                    std::initializer_list<KeyValue> values) {
  const std::string_view sectionName = CheckedSection(section);
  for (const KeyValue& kv : values) CheckedKey(kv.key);
  // Deletions alone make no section.
  if (std::all_of(values.begin(), values.end(), [](const KeyValue& kv) { return kv.remove; }) &&
      !sectionExists(sectionName))
    return 0;
  // Values all as stored need no document of one's own: saving an unchanged list copies and
  // rewrites nothing.
  if (!pending_ && AsStored(sectionName, values)) return 0;
  IniDocument& d = mutableDoc();
  const std::size_t sectionCount = d.sections.size();
  Section& target = d.FindOrAdd(Name(sectionName, d.page), hint_);
  // A section made by this call holds only the keys written before in it, so a key not among
  // those goes to its end without a look at its lines: writing a new file costs no searching.
  const bool made = d.sections.size() != sectionCount;
  std::uint32_t changed = made ? kSectionMade : 0;
  thread_local std::string stored;
  for (auto kv = values.begin(); kv != values.end(); ++kv) {
    const std::uint32_t bit = 1u << std::min<std::size_t>(kv - values.begin(), 30);
    const Name key(kv->key, d.page);
    const auto writtenBefore = [&] {
      return std::any_of(values.begin(), kv, [&](const KeyValue& earlier) {
        return Matches(key, Trim(earlier.key), d.page);
      });
    };
    if (kv->remove) {
      if ((!made || writtenBefore()) && d.Remove(target, key)) changed |= bit;
      continue;
    }
    const std::string_view plain = EncodeValue(kv->value, stored);
    if (made && !writtenBefore()) {
      d.Splice(target, target.body.size(), 0, {key.text(), "=", stored, d.Eol()});
      changed |= bit;
      continue;
    }
    const auto same = [&](std::string_view current) {
      return SameValue(current, stored, plain, kv->value);
    };
    if (d.Set(target, key, stored, same)) changed |= bit;
  }
  if (changed & ~kSectionMade) dirty_ = true;
  return changed;
}

void IniFile::writeString(std::string_view section, std::string_view key, const QString& value) {
  writeStrings(section, {{key, value}});
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, QString::number(value));
}

void IniFile::removeKey(std::string_view section, std::string_view key) {
  writeStrings(section, {{key, {}, true}});
}

void IniFile::commit() {
  if (!pending_ || !dirty_) return;
  if (pending_->unreadable) throw IniWriteError(path_);
  std::shared_ptr<IniDocument> edited = pending_;
  const std::shared_ptr<const IniDocument> current = Load(path_);
  const std::shared_ptr<const IniDocument> started = pending_->base ? pending_->base : Missing();
  if (current != started) {
    if (current->unreadable) throw IniWriteError(path_);
    edited = Replay(*pending_, current == Missing() ? nullptr : current);
  }
  Serialized bytes = Serialize(*edited);
  const timespec writtenAt = Now();
  if (!writeFileAtomically(path_, bytes.bytes->View())) throw IniWriteError(path_);
  // The edited document is done with; its sections and index become the written one's.
  std::shared_ptr<IniDocument> written = Rebased(*edited, std::move(bytes));
  const std::string native = QFile::encodeName(path_).toStdString();
  struct stat st {};
  {
    std::lock_guard lock(cacheMutex);
    if (::stat(native.c_str(), &st) == 0)
      Remember(native, IdentityOf(st), written, writtenAt);
    else
      Cache().erase(native);
  }
  snapshot_ = std::move(written);
  pending_.reset();
  dirty_ = false;
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
