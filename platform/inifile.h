#pragma once
// Profile (INI) files with the semantics of the classic profile-string functions:
// section and key names match without regard to case, a missing file, section or key yields
// the caller's default, integers are decimal or hexadecimal after "$" or "0x", a string comes
// back with at most kMaxValueChars characters unless the caller asks for more, writing a key
// replaces its value in place, a new key goes after the last key line of its section and a new
// section to the end of the file. Every other line, comments and stray text included, is kept
// byte for byte.
//
// Threading: an IniFile object belongs to the thread that made it. The process-wide cache of
// parsed files is guarded by its own mutex, so IniFile objects on different threads are safe.
//
// Reads are served from a parsed copy that is checked against the file's identity (device,
// inode, size, modification and change times), so every new IniFile sees the file as it is now
// while an unchanged file is parsed only once. Writes are collected in the object and committed
// at once by commit(): a temporary file in the same folder, flushed to disk, renamed over the
// target.
//
// Cost: opening a section is a hash look-up; finding a key walks the lines of its section.
#include <QString>
#include <QStringView>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Raised when a file cannot be written; what() is "Unable to write to <path>" in UTF-8.
class IniWriteError : public std::runtime_error {
 public:
  explicit IniWriteError(const QString& path);
  const QString& path() const { return path_; }
  QString message() const;

 private:
  QString path_;
};

struct IniDocument;  // parsed file; defined in inifile.cpp

class IniFile {
 public:
  static constexpr int kMaxValueChars = 2047;

  // Nothing is read until the first read or write.
  explicit IniFile(QString path);
  // A file read from `bytes` instead of the disk, with no path: reads and writes work in memory,
  // and commit() throws. For checking a parser against arbitrary input without touching a disk.
  static IniFile fromBytes(std::string_view bytes);
  // The text commit() would write now: the file as read, with the changes collected so far.
  std::string text() const;
  ~IniFile();
  IniFile(IniFile&&) noexcept;
  IniFile& operator=(IniFile&&) noexcept;
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  const QString& path() const { return path_; }

  // Section and key names are given as UTF-8 and have blanks at their ends trimmed; every caller
  // in the program uses ASCII names.
  QString readString(std::string_view section, std::string_view key, const QString& def,
                     int maxChars = kMaxValueChars) const;
  int readInteger(std::string_view section, std::string_view key, int def) const;
  bool sectionExists(std::string_view section) const;
  // The i below `below`, ascending, for which a section named by the decimal i (no leading
  // zeros) followed by `suffix` exists. Lets a reader bound a count it read from the file by the
  // sections that are really there.
  std::vector<int> indexedSections(std::string_view suffix, int below) const;
  // How many entries of a list kept one per section (0<suffix>, 1<suffix>, ...) a reader takes
  // when the file claims `count`. Neither a count nor a section number read from a file may
  // decide how much memory or time a read takes: a well-formed list has its last section and no
  // more entries than sections; otherwise the list ends at its last entry section such that the
  // sections missing before it (read as empty entries) are no more than those present.
  int entryCount(std::string_view suffix, int count) const;
  // Sections in the file, whatever their names.
  int sectionCount() const;

  // Several keys of one section, with one look-up of the section. A key with `remove` set is
  // deleted instead (every line of it); its value is not looked at.
  struct KeyValue {
    std::string_view key;
    QStringView value;
    bool remove = false;
  };
  void readStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                   QString* values, int maxChars = kMaxValueChars) const;
  // Returns which writes changed the section: bit i for values[i], and kSectionMade when the
  // call made the section.
  static constexpr std::uint32_t kSectionMade = 1u << 31;
  std::uint32_t writeStrings(std::string_view section, std::initializer_list<KeyValue> values);
  // The stored bytes of several keys, without enclosing quotes and not decoded; a missing key
  // gives a null view. The views stay valid until this object is written to, committed or gone.
  void readRawStrings(std::string_view section, std::initializer_list<std::string_view> keys,
                      std::string_view* values) const;
  bool fileExists() const;
  // The file is there but could not be read (no permission, not a regular file, an I/O error).
  bool unreadable() const;

  // Collected in memory; nothing touches the disk until commit(). Values are stored as UTF-8 on
  // one line, so a CR or LF in a value is stored (and read back) as a blank. Writing the value
  // a key already reads as changes nothing. A name that could not be read back as written (a
  // section name holding ']' or a line break, a key that is empty, starts with '[' or holds '='
  // or a line break) throws std::invalid_argument and changes nothing.
  void writeString(std::string_view section, std::string_view key, const QString& value);
  void writeInteger(std::string_view section, std::string_view key, int value);
  // Writing a key with no value, as the profile functions have it: every line of the key goes, so
  // reads give the default again. A missing section is not made.
  void removeKey(std::string_view section, std::string_view key);

  // Writes the collected changes atomically; does nothing when nothing changed. When another
  // writer replaced the file since this object read it, the keys written here are applied to
  // that version, so neither writer's changes are lost. Throws IniWriteError and leaves the old
  // file whole when the file cannot be written, or when it exists but could not be read (its
  // content would be lost); the changes stay collected for another try.
  void commit();

  // The parsed copy behind the reads, shared with every IniFile that saw the same file state.
  // Two IniFile objects return the same pointer exactly when they saw the same file state, so
  // callers may key their own derived indexes on it.
  std::shared_ptr<const IniDocument> snapshot() const;

 private:
  const IniDocument& doc() const;
  IniDocument& mutableDoc();
  // True when the file as read already holds every value (and lacks every key removed).
  bool AsStored(std::string_view section, std::initializer_list<KeyValue> values) const;

  QString path_;
  mutable std::shared_ptr<const IniDocument> snapshot_;
  std::shared_ptr<IniDocument> pending_;  // copy on first write
  bool dirty_ = false;
  mutable std::uint32_t hint_ = 0;  // the section found last
};

// Parses an integer as the profile functions do: optional sign, decimal digits, or hexadecimal
// after "$" or "0x"; surrounding blanks are allowed; anything else yields def.
int parseProfileInteger(std::string_view text, int def);

}  // namespace platform
