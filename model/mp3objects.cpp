#include "model/mp3objects.h"

#include <QHash>
#include <QSet>

#include "model/pendingevents.h"
#include "platform/inifile.h"
#include "platform/textcodec.h"

#include <unordered_map>

std::unique_ptr<TMp3Session> Mp3Session;
TMp3PlayerPtr CurrMp3;

namespace playlistfile {
std::string TrackSection(int index) {
  return std::to_string(index) + kListSection;
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

QString Decoded(std::string_view raw, int maxChars) {
  QString text = platform::decodeText(raw);
  if (text.size() > maxChars) text.truncate(maxChars);
  return text;
}

}  // namespace

// ---- TMp3Session ----

TMp3Session::TMp3Session() = default;
TMp3Session::~TMp3Session() = default;

void TMp3Session::AddToCash(const TMp3PlayerPtr& _Mp3) {
  if (!_Mp3) return;
  if (!FCashMp3) FCashMp3 = std::make_unique<TMp3Cache>();
  FCashMp3->push_back(_Mp3);
}

TMp3PlayerPtr TMp3Session::GetMp3ByID(int _ID) const {
  if (!FCashMp3) return nullptr;
  for (const auto& mp3 : *FCashMp3)
    if (mp3->Mp3ID() == _ID) return mp3;
  return nullptr;
}

TMp3PlayerPtr TMp3Session::GetMp3Status() const {
  if (!FCashMp3) return nullptr;
  for (const auto& mp3 : *FCashMp3)
    if (mp3->Mp3State() == 1) return mp3;
  return nullptr;
}

void TMp3Session::SetRefresh() {
  FCashMp3.reset();
}

void TMp3Session::Refresh() {
  FCashMp3.reset();
}

int TMp3Session::GetNextID(const QString& _FileName) const {
  return platform::IniFile(_FileName).readInteger(kListSection, kCountKey, 0);
}

bool TMp3Session::GetMp3ByName(const QString& IniFile, const QString& CmpStr) const {
  // Every add operation asks this once per candidate file, so the stored paths are indexed once
  // per file state rather than walked for every question.
  struct PathIndex {
    std::shared_ptr<const platform::IniDocument> snapshot;
    QSet<QString> paths;
  };
  static QHash<QString, PathIndex> indexes;

  const platform::IniFile ini(IniFile);
  auto snapshot = ini.snapshot();
  PathIndex& index = indexes[IniFile];
  if (index.snapshot != snapshot || !snapshot) {
    index.paths.clear();
    const int count = ini.readInteger(kListSection, kCountKey, 0);
    index.paths.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; ++i)
      index.paths.insert(
          GetLongPathName(ini.readString(TrackSection(i), kFileNameKey, QString(), kMaxPathChars)));
    index.snapshot = std::move(snapshot);
  }
  return index.paths.contains(CmpStr);
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

TMp3Settings& TMp3Session::Mp3Seetings() {
  if (!FMp3Seetings) FMp3Seetings = std::make_unique<TMp3Settings>();
  return *FMp3Seetings;
}

// ---- TMp3Player ----

TMp3Player::TMp3Player(int _Mp3ID, QString _Mp3Path, QString _Mp3Name, QString _Mp3Size,
                       QString _Mp3Time, int _Mp3State, std::int64_t _Mp3TotalTime)
    : FMp3ID(_Mp3ID),
      FMp3Path(std::move(_Mp3Path)),
      FMp3Name(std::move(_Mp3Name)),
      FMp3Size(std::move(_Mp3Size)),
      FMp3Time(std::move(_Mp3Time)),
      FMp3State(_Mp3State),
      FMp3TotalTime(_Mp3TotalTime) {}

TMp3Player::~TMp3Player() = default;

// ---- TMp3Settings ----

void TMp3Settings::Refresh() {
  FChekSysTray = 0;
  FCheckRepeat = false;
  FDefaultPath.clear();
  FLangaugeType = 0;
}

std::vector<TMp3PlayerPtr> TMp3Settings::ReadPlayList(const QString& LocationStr) {
  std::vector<TMp3PlayerPtr> result;
  const platform::IniFile ini(LocationStr);
  const int count = ini.readInteger(kListSection, kCountKey, 0);
  if (count <= 0) return result;
  const std::int64_t totalTime = readInteger64(ini, kListSection, kTotalTimeKey, 0);
  result.reserve(count);
  // Sizes and times repeat across a library: equal texts share one string.
  std::unordered_map<std::string_view, QString> shortTexts;
  const auto shared = [&](std::string_view raw) {
    auto [it, added] = shortTexts.try_emplace(raw);
    if (added) it->second = Decoded(raw, platform::IniFile::kMaxValueChars);
    return it->second;
  };
  std::string_view raw[4];
  for (int i = 0; i < count; ++i) {
    ini.readRawStrings(TrackSection(i), {kFileNameKey, kOnlyNameKey, kFileSizeKey, kTimeKey}, raw);
    auto mp3 = std::make_shared<TMp3Player>(i, Decoded(raw[0], kMaxPathChars),
                                            Decoded(raw[1], kMaxPathChars), shared(raw[2]),
                                            shared(raw[3]), 0, totalTime);
    CurrMp3 = mp3;
    result.push_back(mp3);
    Mp3Session->AddToCash(mp3);
    if (FOnLoadProgress) FOnLoadProgress(mp3.get());
  }
  return result;
}

void TMp3Settings::SavePlayList(const QString& _LocationStr) {
  if (!Mp3Session->CashMp3()) return;
  // A copy of the references: the window processes events during the loop and a command run
  // from there may change the cache.
  const TMp3Cache records = *Mp3Session->CashMp3();
  platform::IniFile ini(_LocationStr);
  TPendingEvents pending;
  int written = 0;
  for (const auto& mp3 : records) {
    ini.writeStrings(TrackSection(written), {{kFileNameKey, mp3->Mp3Path()},
                                             {kFileSizeKey, mp3->Mp3Size()},
                                             {kTimeKey, mp3->Mp3Time()},
                                             {kOnlyNameKey, mp3->Mp3Name()}});
    ++written;
    pending.Process();
    if (FOnCloseProgress) FOnCloseProgress(mp3.get());
  }
  ini.writeInteger(kListSection, kCountKey, written);
  const std::int64_t total = records.empty() ? 0 : records.back()->Mp3TotalTime();
  ini.writeString(kListSection, kTotalTimeKey, QString::number(total));
  ini.commit();
}
