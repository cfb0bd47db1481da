#include "model/mp3objects.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include "model/mp3languages.h"
#include "model/pathset.h"
#include "model/pendingevents.h"
#include "platform/inifile.h"
#include "platform/pathcodec.h"
#include "platform/textcodec.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <unordered_map>
#include <vector>

std::unique_ptr<TMp3Session> Mp3Session;
TMp3PlayerPtr CurrMp3;
TMp3PlayerPtr NodeMp3;

namespace playlistfile {
std::string TrackSection(int index) {
  return std::to_string(index) + kListSection;
}

bool HoldsTrackHeader(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes)
    if (c != 0) text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  const std::string_view suffix = "playlist";
  for (std::size_t at = text.find('['); at != std::string::npos; at = text.find('[', at + 1)) {
    std::size_t p = at + 1;
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    const std::size_t digits = p;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) ++p;
    if (p == digits || text.compare(p, suffix.size(), suffix) != 0) continue;
    p += suffix.size();
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    if (p < text.size() && text[p] == ']') return true;
  }
  return false;
}

bool HoldsUnreadTracks(const QString& path) {
  const platform::IniFile ini(path);
  if (!ini.fileExists()) return false;
  // Only a file can hold tracks; anything else in its place is simply not a list.
  if (ini.unreadable()) return QFileInfo(path).isFile();
  if (TMp3Session::TrackCount(ini) > 0) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return true;
  const QByteArray bytes = file.readAll();
  return HoldsTrackHeader(
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}
}  // namespace playlistfile

using namespace playlistfile;

namespace {

// Paths and names have no length limit of their own; the system's path limit is far below this.
constexpr int kMaxPathChars = 1 << 16;

std::int64_t readInteger64(const platform::IniFile& ini, std::string_view section,
                           std::string_view key, std::int64_t def) {
  const QString text = ini.readString(section, key, QString()).trimmed();
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok, 10);
  if (ok) return value;
  return platform::parseProfileInteger(text.toStdString(), static_cast<int>(def));
}

// The length of the path's folder part, through its last '/'.
qsizetype FolderLength(QStringView path) {
  qsizetype n = path.size();
  while (n > 0 && path[n - 1] != u'/') --n;
  return n;
}

// Where the name starts when it is the path's last part, else -1 (npos for bytes). Compares
// whole blocks instead of scanning back for the last '/', which costs a loader far more per track.
qsizetype NameStart(QStringView path, QStringView name) {
  const qsizetype cut = path.size() - name.size();
  if (cut < 0 || (cut > 0 && path[cut - 1] != u'/') || path.sliced(cut) != name ||
      name.contains(u'/'))
    return -1;
  return cut;
}

std::size_t NameStart(std::string_view path, std::string_view name) {
  if (path.size() < name.size()) return std::string_view::npos;
  const std::size_t cut = path.size() - name.size();
  if ((cut > 0 && path[cut - 1] != '/') || path.substr(cut) != name ||
      name.find('/') != std::string_view::npos)
    return std::string_view::npos;
  return cut;
}

bool IsAscii(std::string_view bytes) {
  // An OR of all bytes, which the compiler turns into vector code.
  unsigned char all = 0;
  for (const char c : bytes) all |= static_cast<unsigned char>(c);
  return all < 0x80;
}

QString Decoded(std::string_view raw, int maxChars) {
  QString text = platform::decodeText(raw);
  if (text.size() > maxChars) text.truncate(maxChars);
  return text;
}

// A stored value ends at a NUL, as the profile functions' strings do: a path cut there by the
// system would name another file than the one shown.
std::string_view UpToNul(std::string_view value) {
  return value.substr(0, value.find('\0'));
}

// The shared texts of one load by their stored bytes, which stay valid while the load reads its
// file. Open addressing over a power of two: this runs twice a track, and a general map's
// division and node walk cost more than the look-up itself.
class TStoredTexts {
 public:
  const TSharedText& Take(std::string_view raw, int maxChars) {
    if ((FUsed + 1) * 2 > FSlots.size()) Grow();
    const std::uint64_t hash = Hash(raw);
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = FSlots[i];
      if (!slot.used) {
        slot = {raw, hash, TSharedText(Decoded(raw, maxChars)), true};
        ++FUsed;
        return slot.text;
      }
      if (slot.hash == hash && slot.raw == raw) return slot.text;
    }
  }

 private:
  struct Slot {
    std::string_view raw;
    std::uint64_t hash = 0;
    TSharedText text;
    bool used = false;
  };

  static std::uint64_t Hash(std::string_view raw) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const char c : raw) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    // FNV leaves the low bits, which pick the slot, to the low bits of each byte alone.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    return h ^ (h >> 33);
  }
  void Grow() {
    std::vector<Slot> old = std::move(FSlots);
    FSlots.assign(std::max<std::size_t>(64, old.size() * 2), Slot());
    const std::size_t mask = FSlots.size() - 1;
    for (Slot& slot : old) {
      if (!slot.used) continue;
      std::size_t i = slot.hash & mask;
      while (FSlots[i].used) i = (i + 1) & mask;
      FSlots[i] = std::move(slot);
    }
  }

  std::vector<Slot> FSlots;
  std::size_t FUsed = 0;
};

// U+FFFD in UTF-8: a FileName holding it may have its exact bytes beside it.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// A track's path from its stored FileName: its exact bytes when the section has them.
QString StoredPath(const platform::IniFile& ini, int index, std::string_view text) {
  if (text.find(kReplacement) != std::string_view::npos) {
    std::string_view bytes;
    ini.readRawStrings(TrackSection(index), {kFileNameBytesKey}, &bytes);
    if (bytes.data())
      if (std::optional<QString> exact = platform::unescapePathBytes(bytes))
        return *std::move(exact);
  }
  return Decoded(text, kMaxPathChars);
}

}  // namespace

// ---- TMp3Session ----

TMp3Session::TParts::TParts() = default;
TMp3Session::TParts::~TParts() = default;

TMp3Session::TMp3Session() = default;
TMp3Session::~TMp3Session() = default;

TMp3Session::TParts& TMp3Session::Parts() {
  if (!FParts) FParts = std::make_unique<TParts>();
  return *FParts;
}

void TMp3Session::SetCacheMp3(std::unique_ptr<TMp3Cache> cache) {
  if (cache || FParts) Parts().cache = std::move(cache);
}

void TMp3Session::AddToCache(const TMp3PlayerPtr& _Mp3) {
  if (!_Mp3) return;
  std::unique_ptr<TMp3Cache>& cache = Parts().cache;
  if (!cache) cache = std::make_unique<TMp3Cache>();
  cache->push_back(_Mp3);
}

void TMp3Session::ReserveCache(int more) {
  std::unique_ptr<TMp3Cache>& cache = Parts().cache;
  if (!cache) cache = std::make_unique<TMp3Cache>();
  if (more > 0) cache->reserve(cache->size() + static_cast<std::size_t>(more));
}

void TMp3Session::TrimCache() {
  TMp3Cache* cache = CacheMp3();
  if (!cache) return;
  const std::size_t keep = cache->size() + cache->size() / 16;
  if (cache->capacity() - cache->size() <= cache->size() / 8) return;
  TMp3Cache trimmed;
  trimmed.reserve(keep);
  std::move(cache->begin(), cache->end(), std::back_inserter(trimmed));
  *cache = std::move(trimmed);
}

TMp3PlayerPtr TMp3Session::GetMp3ByID(int _ID) const {
  const TMp3Cache* cache = CacheMp3();
  if (!cache) return nullptr;
  for (const auto& mp3 : *cache)
    if (mp3->Mp3ID() == _ID) return mp3;
  return nullptr;
}

TMp3PlayerPtr TMp3Session::GetMp3Status() const {
  const TMp3Cache* cache = CacheMp3();
  if (!cache) return nullptr;
  for (const auto& mp3 : *cache)
    if (mp3->Mp3State() == 1) return mp3;
  return nullptr;
}

std::int64_t TMp3Session::TotalTimeOf(const TMp3Cache* cache) {
  if (!cache) return 0;
  for (auto it = cache->rbegin(); it != cache->rend(); ++it)
    if (*it && !(*it)->Mp3Time().isEmpty()) return std::max<std::int64_t>((*it)->Mp3TotalTime(), 0);
  return 0;
}

void TMp3Session::SetRefresh() {
  if (FParts) FParts->cache.reset();
}

void TMp3Session::Refresh() {
  if (FParts) FParts->cache.reset();
}

int TMp3Session::GetNextID(const QString& _FileName) const {
  return TrackCount(platform::IniFile(_FileName));
}

int TMp3Session::TrackCount(const platform::IniFile& ini) {
  return ini.entryCount(kListSection, ini.readInteger(kListSection, kCountKey, 0));
}

bool TMp3Session::GetMp3ByName(const QString& IniFile, const QString& CmpStr) const {
  return StoredPaths(IniFile)->contains(CmpStr);
}

namespace {

// Every add operation asks about each candidate file, so the stored paths are indexed once per
// file state rather than walked for every question; the index lives for the command.
struct PathIndex {
  std::shared_ptr<const platform::IniDocument> snapshot;
  std::shared_ptr<const TPathSet> paths;
};

QHash<QString, PathIndex>& PathIndexes() {
  static QHash<QString, PathIndex> indexes;
  return indexes;
}

}  // namespace

std::shared_ptr<const TPathSet> TMp3Session::StoredPaths(const QString& IniFile) const {
  const platform::IniFile ini(IniFile);
  auto snapshot = ini.snapshot();
  PathIndex& index = PathIndexes()[IniFile];
  if (index.snapshot != snapshot || !snapshot || !index.paths) {
    auto paths = std::make_shared<TPathSet>();
    const int count = TrackCount(ini);
    paths->reserve(count);
    std::string_view text;
    for (int i = 0; i < count; ++i) {
      ini.readRawStrings(TrackSection(i), {kFileNameKey}, &text);
      paths->insert(GetLongPathName(StoredPath(ini, i, UpToNul(text))));
    }
    index.paths = std::move(paths);
    index.snapshot = std::move(snapshot);
  }
  return index.paths;
}

void TMp3Session::ForgetStoredPaths() {
  PathIndexes().clear();
}

QString TMp3Session::SecToTime(std::int64_t Sec) {
  const std::int64_t s = Sec / 1000;
  const std::int64_t h = s / 3600;
  const std::int64_t m = s / 60 - h * 60;
  const std::int64_t r = s - (h * 3600 + m * 60);
  QString text = QString::number(h) + QLatin1Char(':') + QString::number(m) + QLatin1Char(':');
  if (r < 10) text += QLatin1Char('0');
  return text + QString::number(r);
}

TMp3Settings& TMp3Session::Mp3Settings() {
  std::unique_ptr<TMp3Settings>& settings = Parts().settings;
  if (!settings) settings = std::make_unique<TMp3Settings>();
  return *settings;
}

TMp3Languages& TMp3Session::Mp3Languages() {
  std::unique_ptr<TMp3Languages>& languages = Parts().languages;
  if (!languages) languages = std::make_unique<TMp3Languages>();
  return *languages;
}

// ---- TMp3Player ----

TMp3Player::TMp3Player(int _Mp3ID, QString _Mp3Path, QString _Mp3Name, QString _Mp3Size,
                       QString _Mp3Time, int _Mp3State, std::int64_t _Mp3TotalTime)
    : FMp3Name(std::move(_Mp3Name)),
      FMp3Size(_Mp3Size),
      FMp3Time(_Mp3Time),
      FMp3TotalTime(_Mp3TotalTime),
      FMp3ID(_Mp3ID),
      FMp3State(_Mp3State) {
  StorePath(std::move(_Mp3Path));
}

TMp3Player::TMp3Player(int _Mp3ID, QString _Folder, QStringView _FileName, QString _Mp3Name,
                       QString _Mp3Size, QString _Mp3Time, int _Mp3State,
                       std::int64_t _Mp3TotalTime)
    : TMp3Player(_Mp3ID, std::move(_Folder), _FileName, std::move(_Mp3Name), TSharedText(_Mp3Size),
                 TSharedText(_Mp3Time), _Mp3State, _Mp3TotalTime) {}

TMp3Player::TMp3Player(int _Mp3ID, QString _Folder, QStringView _FileName, QString _Mp3Name,
                       TSharedText _Mp3Size, TSharedText _Mp3Time, int _Mp3State,
                       std::int64_t _Mp3TotalTime)
    : FMp3Name(std::move(_Mp3Name)),
      FMp3Size(std::move(_Mp3Size)),
      FMp3Time(std::move(_Mp3Time)),
      FMp3TotalTime(_Mp3TotalTime),
      FMp3ID(_Mp3ID),
      FMp3State(_Mp3State) {
  if (_FileName == FMp3Name && !_FileName.contains(u'/') &&
      (_Folder.isEmpty() || _Folder.endsWith(u'/'))) {
    FFolder = std::move(_Folder);
  } else {
    _Folder.append(_FileName);
    StorePath(std::move(_Folder));
  }
}

TMp3Player::~TMp3Player() = default;

QString TMp3Player::Mp3Path() const {
  if (!FNameEndsPath || FMp3Name.isEmpty()) return FFolder;
  if (FFolder.isEmpty()) return FMp3Name;
  return FFolder + FMp3Name;
}

std::pair<QString, QString> TMp3Player::Mp3PathParts() const {
  if (!FNameEndsPath) return {FFolder, QString()};
  return {FFolder, FMp3Name};
}

QString TMp3Player::Mp3Folder() const {
  if (FNameEndsPath) return FFolder;
  return FFolder.left(FolderLength(FFolder));
}

void TMp3Player::SetMp3Name(const QString& v) {
  QString path = Mp3Path();
  FMp3Name = v;
  StorePath(std::move(path));
}

void TMp3Player::StorePath(QString path) {
  const qsizetype cut = NameStart(path, FMp3Name);
  FNameEndsPath = cut >= 0;
  if (!FNameEndsPath || cut == path.size())
    FFolder = std::move(path);
  else if (QStringView(path).first(cut) != FFolder)  // else keeps a string shared with others
    FFolder = path.left(cut);
}

// ---- TMp3PathPool ----

QString TMp3PathPool::Folder(QStringView Path) {
  return Shared(Path.first(FolderLength(Path)));
}

QString TMp3PathPool::Shared(QStringView folder) {
  if (folder.isEmpty()) return QString();
  // Paths mostly come folder by folder.
  if (folder == FLast) return FLast;
  const auto it = FFolders.constFind(folder);
  if (it != FFolders.cend()) return FLast = it.value();
  FLast = folder.toString();
  FFolders.insert(QStringView(FLast), FLast);
  return FLast;
}

TMp3PlayerPtr TMp3PathPool::MakePlayer(int _Mp3ID, const QString& _Mp3Path, QString _Mp3Name,
                                       QString _Mp3Size, QString _Mp3Time, int _Mp3State,
                                       std::int64_t _Mp3TotalTime) {
  return MakePlayer(_Mp3ID, _Mp3Path, std::move(_Mp3Name), TSharedText(_Mp3Size),
                    TSharedText(_Mp3Time), _Mp3State, _Mp3TotalTime);
}

TMp3PlayerPtr TMp3PathPool::MakePlayer(int _Mp3ID, const QString& _Mp3Path, QString _Mp3Name,
                                       TSharedText _Mp3Size, TSharedText _Mp3Time, int _Mp3State,
                                       std::int64_t _Mp3TotalTime) {
  const qsizetype cut = NameStart(_Mp3Path, _Mp3Name);
  // A name of its own keeps the whole path: the empty folder and the path as the file name.
  if (cut < 0)
    return std::make_shared<TMp3Player>(_Mp3ID, QString(), _Mp3Path, std::move(_Mp3Name),
                                        std::move(_Mp3Size), std::move(_Mp3Time), _Mp3State,
                                        _Mp3TotalTime);
  return std::make_shared<TMp3Player>(
      _Mp3ID, Shared(QStringView(_Mp3Path).first(cut)), QStringView(_Mp3Path).sliced(cut),
      std::move(_Mp3Name), std::move(_Mp3Size), std::move(_Mp3Time), _Mp3State, _Mp3TotalTime);
}

// ---- TMp3Settings ----

void TMp3Settings::Refresh() {
  FCheckSysTray = 0;
  FCheckRepeat = false;
  FDefaultPath.clear();
  FLanguageType = 0;
}

std::vector<TMp3PlayerPtr> TMp3Settings::ReadUserPlayLists(const QString& FileName) {
  return ReadUserPlayLists(platform::IniFile(FileName));
}

std::vector<TMp3PlayerPtr> TMp3Settings::ReadUserPlayLists(const platform::IniFile& ini) {
  using namespace userplaylists;
  const int count =
      ini.entryCount(kEntrySuffix, ini.readInteger(kCountSection, userplaylists::kCountKey, 0));
  std::vector<TMp3PlayerPtr> result;
  result.reserve(static_cast<std::size_t>(count));
  QString location;
  QString name;
  for (int i = 0; i < count; ++i) {
    const std::string section = std::to_string(i).append(kEntrySuffix);
    location = ini.readString(section, kLocationKey, location);
    name = ini.readString(section, kNameKey, name);
    result.push_back(std::make_shared<TMp3Player>(i, location, name, QString(), QString(), 0, 0));
  }
  return result;
}

void TMp3Settings::WriteUserPlayLists(platform::IniFile& ini,
                                      const std::vector<std::pair<QString, QString>>& entries) {
  using namespace userplaylists;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ini.writeStrings(std::to_string(i).append(kEntrySuffix),
                     {{kNameKey, entries[i].first}, {kLocationKey, entries[i].second}});
  }
  ini.writeString(kCountSection, userplaylists::kCountKey, QString::number(entries.size()));
}

std::vector<TMp3PlayerPtr> TMp3Settings::ReadPlayList(const QString& LocationStr) {
  return ReadPlayList(platform::IniFile(LocationStr));
}

std::vector<TMp3PlayerPtr> TMp3Settings::ReadPlayList(const platform::IniFile& ini) {
  std::vector<TMp3PlayerPtr> result;
  const int count = TrackCount(ini);
  if (count <= 0) return result;
  // A negative total is no total.
  const std::int64_t totalTime =
      std::max<std::int64_t>(readInteger64(ini, kListSection, kTotalTimeKey, 0), 0);
  result.reserve(count);
  Mp3Session->ReserveCache(count);
  // Sizes and times repeat across a library: each text is decoded and shared once a load. A
  // table each: the few hundred times then stay in the nearest cache.
  TStoredTexts sizes, times;
  constexpr int kMaxChars = platform::IniFile::kMaxValueChars;
  // So do folders. ASCII reads the same in every code page, so the folder of an ASCII path that
  // ends with its name is found by its bytes and the path is never decoded whole; any other path
  // goes through the pool.
  std::unordered_map<std::string_view, QString> asciiFolders;
  std::string_view lastFolderBytes;
  const QString* lastFolder = nullptr;
  const auto asciiFolder = [&](std::string_view bytes) -> const QString& {
    // Paths mostly come folder by folder.
    if (!lastFolder || bytes != lastFolderBytes) {
      auto [it, added] = asciiFolders.try_emplace(bytes);
      if (added) it->second = platform::decodeText(bytes);
      lastFolderBytes = bytes;
      lastFolder = &it->second;
    }
    return *lastFolder;
  };
  TMp3PathPool folders;
  std::string_view raw[4];
  for (int i = 0; i < count; ++i) {
    ini.readRawStrings(TrackSection(i), {kFileNameKey, kOnlyNameKey, kFileSizeKey, kTimeKey}, raw);
    for (std::string_view& value : raw) value = UpToNul(value);
    const std::string_view path = raw[0], name = raw[1];
    const std::size_t cut = NameStart(path, name);
    TMp3PlayerPtr mp3;
    // Up to kMaxPathChars bytes of ASCII are never cut short by decoding.
    if (cut != std::string_view::npos && path.size() <= kMaxPathChars && IsAscii(path)) {
      const QString text = platform::decodeText(name);
      mp3 = std::make_shared<TMp3Player>(i, asciiFolder(path.substr(0, cut)), text, text,
                                         sizes.Take(raw[2], kMaxChars),
                                         times.Take(raw[3], kMaxChars), 0, totalTime);
    } else {
      // The views die with the next read: the name is decoded first.
      QString text = Decoded(name, kMaxPathChars);
      mp3 = folders.MakePlayer(i, StoredPath(ini, i, path), std::move(text),
                               sizes.Take(raw[2], kMaxChars), times.Take(raw[3], kMaxChars), 0,
                               totalTime);
    }
    Mp3Session->AddToCache(mp3);
    if (FOnLoadProgress) FOnLoadProgress(mp3.get());
    result.push_back(std::move(mp3));
  }
  // The last record read is the current one; set once, not once a record.
  CurrMp3 = result.back();
  return result;
}

void TMp3Settings::SavePlayList(const QString& _LocationStr) {
  if (!Mp3Session->CacheMp3()) return;
  // A copy of the references: the window processes events during the loop and a command run
  // from there may change the cache.
  const TMp3Cache records = *Mp3Session->CacheMp3();
  platform::IniFile ini(_LocationStr);
  TPendingEvents pending;
  int written = 0;
  for (const auto& mp3 : records) {
    const std::string section = TrackSection(written);
    const QString path = mp3->Mp3Path();
    const bool plain = platform::isPlainPath(path);
    QString text = path;
    // Lost bytes are written as U+FFFD; so are line breaks, which tells readers to look for the
    // bytes.
    if (!plain)
      text.replace(u'\n', QChar::ReplacementCharacter).replace(u'\r', QChar::ReplacementCharacter);
    const std::uint32_t changed = ini.writeStrings(section, {{kFileNameKey, text},
                                                             {kFileSizeKey, mp3->Mp3Size()},
                                                             {kTimeKey, mp3->Mp3Time()},
                                                             {kOnlyNameKey, mp3->Mp3Name()}});
    if (!plain) {
      ini.writeString(section, kFileNameBytesKey, platform::escapePathBytes(path));
    } else if (!(changed & platform::IniFile::kSectionMade) &&
               ((changed & 1) || text.contains(QChar::ReplacementCharacter))) {
      // The section is left from an earlier list and may hold the bytes of another track's
      // path. Bytes are only ever written beside a FileName holding U+FFFD, so a FileName that
      // stayed the same text without one has none beside it.
      ini.removeKey(section, kFileNameBytesKey);
    }
    ++written;
    pending.Process();
    if (FOnCloseProgress) FOnCloseProgress(mp3.get());
  }
  ini.writeInteger(kListSection, kCountKey, written);
  // The list's total, not the last record's: a stream entry or a track not yet measured at the
  // end would store 0 for the whole list.
  ini.writeString(kListSection, kTotalTimeKey, QString::number(Mp3Session->ListTotalTime()));
  ini.commit();
}
