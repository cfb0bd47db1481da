#pragma once
// The session model: track records, the track cache behind the main list, the play list file
// and the program-wide references.
//
// Threading: everything here belongs to the main thread. Background workers never touch a
// record; they get plain copies of paths and hand plain values back to the main thread.
#include <QHash>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "model/textpool.h"

class TMp3Player;
class TPathSet;
class TMp3Settings;
class TMp3Languages;
namespace platform {
class IniFile;
}

using TMp3PlayerPtr = std::shared_ptr<TMp3Player>;
// The track cache: the ordered records behind the main list. Records are shared with rows,
// tree nodes and the program-wide references, so dropping them from the cache never leaves
// anything dangling.
using TMp3Cache = std::vector<TMp3PlayerPtr>;

// The sender of a progress event: a track record, or anything else (which the receivers ignore).
using TNotifyEvent = std::function<void(class TMp3Session* Sender)>;

class TMp3Session {
 public:
  TMp3Session();
  virtual ~TMp3Session();
  TMp3Session(const TMp3Session&) = delete;
  TMp3Session& operator=(const TMp3Session&) = delete;

  // Null until the first record is added, and again after SetRefresh/Refresh.
  TMp3Cache* CacheMp3() const { return FParts ? FParts->cache.get() : nullptr; }
  void SetCacheMp3(std::unique_ptr<TMp3Cache> cache);
  int CacheCount() const {
    const TMp3Cache* cache = CacheMp3();
    return cache ? static_cast<int>(cache->size()) : 0;
  }

  void AddToCache(const TMp3PlayerPtr& _Mp3);
  // Room for `more` records, so that a loader that knows its count copies the cache once.
  void ReserveCache(int more);
  // Gives back most of the room that appending one record at a time left in the cache, keeping
  // a little for the next few adds. For the end of a command that added many.
  void TrimCache();
  TMp3PlayerPtr GetMp3ByID(int _ID) const;
  TMp3PlayerPtr GetMp3Status() const;
  // The playing time the list already has: the running total of the last record that has a
  // time (a record read from a file carries the file's total). 0 when none has.
  std::int64_t ListTotalTime() const { return TotalTimeOf(CacheMp3()); }
  static std::int64_t TotalTimeOf(const TMp3Cache* cache);
  void SetRefresh();
  void Refresh();

  // Lookups over a play list file.
  int GetNextID(const QString& _FileName) const;
  // The tracks a play list file holds: its Count, but never past its last track section.
  static int TrackCount(const platform::IniFile& ini);
  bool GetMp3ByName(const QString& IniFile, const QString& CmpStr) const;
  // The paths GetMp3ByName knows in the file as it is now; the set stays as it is when the file
  // changes later.
  std::shared_ptr<const TPathSet> StoredPaths(const QString& IniFile) const;
  // Lets the indexes of StoredPaths go: a 100,000-track list's index is some 20 MB, wanted only
  // while a command adds tracks.
  static void ForgetStoredPaths();

  // There are no short names on this platform: the path comes back unchanged.
  static QString GetLongPathName(const QString& ShortName) { return ShortName; }

  // Milliseconds as h:m:ss (only the seconds padded); hours are not limited to 24.
  static QString SecToTime(std::int64_t Sec);
  static QString GetTotalTime(std::int64_t Sec) { return SecToTime(Sec); }

  // Created on first use; the same object afterwards.
  TMp3Settings& Mp3Settings();
  TMp3Languages& Mp3Languages();

 private:
  struct TParts {
    TParts();
    ~TParts();
    std::unique_ptr<TMp3Cache> cache;
    std::unique_ptr<TMp3Settings> settings;
    std::unique_ptr<TMp3Languages> languages;
  };
  TParts& Parts();

  // The cache, the settings object and the language reader, made on first use. A track record never
  // uses them: one pointer for both keeps its share small.
  std::unique_ptr<TParts> FParts;
};

// A track. Its path is kept as folder + file name when the file name is the display name (the
// common case), so the records of one folder can share one copy of the folder text: records
// made from the same folder QString, or through one TMp3PathPool, do. Equal size and time texts
// are one TSharedText for all records.
class TMp3Player : public TMp3Session {
 public:
  TMp3Player() = default;
  TMp3Player(int _Mp3ID, QString _Mp3Path, QString _Mp3Name, QString _Mp3Size, QString _Mp3Time,
             int _Mp3State, std::int64_t _Mp3TotalTime);
  // The path given as _Folder + _FileName. When _Folder is empty or ends with '/' and _FileName
  // is the display name, the record keeps _Folder itself: pass one folder string to all records
  // of a folder and they share it.
  TMp3Player(int _Mp3ID, QString _Folder, QStringView _FileName, QString _Mp3Name, QString _Mp3Size,
             QString _Mp3Time, int _Mp3State, std::int64_t _Mp3TotalTime);
  // The same with the size and time texts already shared: a loader that meets the same few texts
  // again and again looks each up once, not once a record.
  TMp3Player(int _Mp3ID, QString _Folder, QStringView _FileName, QString _Mp3Name,
             TSharedText _Mp3Size, TSharedText _Mp3Time, int _Mp3State, std::int64_t _Mp3TotalTime);
  ~TMp3Player() override;

  int Mp3ID() const { return FMp3ID; }
  // Joined on each call (a new string) when the path ends with the display name.
  QString Mp3Path() const;
  void SetMp3Path(const QString& v) { StorePath(v); }
  // The path through its last '/'; empty when it has none.
  QString Mp3Folder() const;
  // Two texts whose join is Mp3Path(), without joining them: references to the record's own
  // strings, cheap to take and safe to hand to another thread.
  std::pair<QString, QString> Mp3PathParts() const;
  const QString& Mp3Name() const { return FMp3Name; }
  void SetMp3Name(const QString& v);
  // Valid while the record keeps this text: setting another one may free it.
  const QString& Mp3Size() const { return FMp3Size.Text(); }
  void SetMp3Size(const QString& v) { FMp3Size = TSharedText(v); }
  const QString& Mp3Time() const { return FMp3Time.Text(); }
  void SetMp3Time(const QString& v) { FMp3Time = TSharedText(v); }
  int Mp3State() const { return FMp3State; }
  void SetMp3State(int v) { FMp3State = v; }
  // 64-bit: the running total of a large library passes 2^31 ms (under 25 days) easily.
  std::int64_t Mp3TotalTime() const { return FMp3TotalTime; }
  void SetMp3TotalTime(std::int64_t v) { FMp3TotalTime = v; }

 private:
  void StorePath(QString path);

  // With FNameEndsPath the path's folder part, else the whole path.
  QString FFolder;
  QString FMp3Name;
  TSharedText FMp3Size;
  TSharedText FMp3Time;
  std::int64_t FMp3TotalTime = 0;
  int FMp3ID = 0;
  int FMp3State = 0;
  bool FNameEndsPath = true;
};

// Folder strings shared by the records of one load, for loaders that meet paths in any order
// (the play list reader, dropped files). Use one pool per load: it only holds references, so
// dropping it frees nothing a record uses.
//   TMp3PathPool pool;
//   for (...) AddRecord(pool.MakePlayer(id, path, name, size, time, 0, 0));
// A folder scan needs no pool, only one folder string for all the files of a folder:
//   const QString folder = dir + u'/';
//   for (...) std::make_shared<TMp3Player>(id, folder, file, file, size, time, 0, 0);
class TMp3PathPool {
 public:
  // The folder part of Path (through its last '/'; empty when there is none), the same string
  // for every path of that folder. Always a prefix of Path.
  QString Folder(QStringView Path);
  // A record as the 7-argument constructor makes it, its folder string taken from the pool.
  TMp3PlayerPtr MakePlayer(int _Mp3ID, const QString& _Mp3Path, QString _Mp3Name, QString _Mp3Size,
                           QString _Mp3Time, int _Mp3State, std::int64_t _Mp3TotalTime);
  TMp3PlayerPtr MakePlayer(int _Mp3ID, const QString& _Mp3Path, QString _Mp3Name,
                           TSharedText _Mp3Size, TSharedText _Mp3Time, int _Mp3State,
                           std::int64_t _Mp3TotalTime);

 private:
  QString Shared(QStringView folder);

  // Each key views the text of its own value.
  QHash<QStringView, QString> FFolders;
  QString FLast;
};

class TMp3Settings : public TMp3Session {
 public:
  TMp3Settings() = default;

  void Refresh();

  // Reads a play list file: the records are appended to the track cache of Mp3Session, CurrMp3
  // ends on the last one, and the same records are returned in file order (empty: no track).
  std::vector<TMp3PlayerPtr> ReadPlayList(const QString& LocationStr);
  std::vector<TMp3PlayerPtr> ReadPlayList(const platform::IniFile& ini);
  // Writes the track cache of Mp3Session; throws platform::IniWriteError when it cannot.
  void SavePlayList(const QString& _LocationStr);
  // The named play lists of a registry file, as name-and-path records (ID = index) in file
  // order; a missing key repeats the previous entry's value. Empty when there is none.
  std::vector<TMp3PlayerPtr> ReadUserPlayLists(const QString& FileName);
  static std::vector<TMp3PlayerPtr> ReadUserPlayLists(const platform::IniFile& ini);
  // Writes the entries (name, path) in order and their count.
  static void WriteUserPlayLists(platform::IniFile& ini,
                                 const std::vector<std::pair<QString, QString>>& entries);

  int CheckSysTray() const { return FCheckSysTray; }
  void SetCheckSysTray(int v) { FCheckSysTray = v; }
  bool CheckRepeat() const { return FCheckRepeat; }
  void SetCheckRepeat(bool v) { FCheckRepeat = v; }
  const QString& DefaultPath() const { return FDefaultPath; }
  void SetDefaultPath(const QString& v) { FDefaultPath = v; }
  int Color() const { return FColor; }
  void SetColor(int v) { FColor = v; }
  int Volume() const { return FVolume; }
  void SetVolume(int v) { FVolume = v; }
  int LanguageType() const { return FLanguageType; }
  void SetLanguageType(int v) { FLanguageType = v; }
  const TNotifyEvent& OnLoadProgress() const { return FOnLoadProgress; }
  void SetOnLoadProgress(TNotifyEvent e) { FOnLoadProgress = std::move(e); }
  const TNotifyEvent& OnCloseProgress() const { return FOnCloseProgress; }
  void SetOnCloseProgress(TNotifyEvent e) { FOnCloseProgress = std::move(e); }

 private:
  int FCheckSysTray = 0;
  bool FCheckRepeat = false;
  QString FDefaultPath;
  int FColor = 0;
  int FVolume = 0;
  int FLanguageType = 0;
  TNotifyEvent FOnLoadProgress;
  TNotifyEvent FOnCloseProgress;
};

// Program-wide references. Mp3Session lives from start-up to the main window's destruction;
// CurrMp3 is the record the command Play acts on and may be empty.
extern std::unique_ptr<TMp3Session> Mp3Session;
extern TMp3PlayerPtr CurrMp3;
// The record of the selected node of the folder tree; empty for a group node.
extern TMp3PlayerPtr NodeMp3;

// The named play list registry: entry i in section "<i>UserPlayList", the count in "Count".
namespace userplaylists {
inline constexpr char kEntrySuffix[] = "UserPlayList";
inline constexpr char kNameKey[] = "PlayListName";
inline constexpr char kLocationKey[] = "PlayListLocation";
inline constexpr char kCountSection[] = "Count";
inline constexpr char kCountKey[] = "PlayListCount";
}  // namespace userplaylists

// Names of the play list file's sections and keys.
namespace playlistfile {
inline constexpr char kListSection[] = "PlayList";
inline constexpr char kCountKey[] = "Count";
inline constexpr char kTotalTimeKey[] = "_TotalTime";
inline constexpr char kFileNameKey[] = "FileName";
inline constexpr char kFileSizeKey[] = "FileSize";
inline constexpr char kTimeKey[] = "Time";
inline constexpr char kOnlyNameKey[] = "OnlyName";
// Only for a path that FileName cannot hold exactly (bytes that are not UTF-8, a line break):
// its bytes, percent-escaped. FileName then shows each lost byte or line break as U+FFFD, and
// readers look for this key only beside such a FileName, so a plain list reads at full speed.
inline constexpr char kFileNameBytesKey[] = "FileNameBytes";
// "0PlayList", "1PlayList", ...
std::string TrackSection(int index);
// Whether a play list file that reads as no track holds tracks all the same: it exists but cannot
// be read, or its bytes hold a track section header that the reader could not use (no usable
// Count, other line ends, another encoding). Such a file must never be replaced or deleted.
bool HoldsUnreadTracks(const QString& path);
// Whether these bytes hold "[", a decimal number and "PlayList" "]" (any case, blanks allowed,
// NUL bytes skipped so that text in UTF-16 is seen too).
bool HoldsTrackHeader(std::string_view bytes);
}  // namespace playlistfile
