// Filling the main list: folder scans, single files, stream lists and dropped files.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QSet>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <sys/stat.h>
#include <set>

#include "model/pathset.h"
#include "model/pendingevents.h"
#include "platform/dirsearch.h"
#include "platform/pathcodec.h"
#include "platform/shelllink.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/tracklistmodel.h"
#include "ui/waitcursor.h"

namespace {

// The attribute bits a scan accepts; anything beyond them (a link, for one) is skipped.
constexpr std::uint32_t kOrdinaryAttributes = 0x1FF;

QString FileNamePart(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? path : path.mid(slash + 1);
}

bool HasExtension(const QString& path, QLatin1String extension) {
  return FileNamePart(path).endsWith(extension, Qt::CaseInsensitive);
}

// The file's path from the bytes of its URL: a file manager percent-escapes the name's own bytes,
// which need not be UTF-8.
QString LocalPath(const QUrl& url) {
  if (!url.host().isEmpty()) return url.toLocalFile();
  const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  return platform::decodePath(std::string_view(bytes.constData(), bytes.size()));
}

}  // namespace

namespace {

QString SizeText(std::uint64_t bytes) {
  return QString::number(bytes / 1000);
}

}  // namespace

QString TMainForm::GetFileSizeKB(const QString& path) {
  struct stat st {};
  if (path.isEmpty() || ::stat(platform::encodePath(path).constData(), &st) != 0)
    return QStringLiteral("-1");
  return SizeText(S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size));
}

// What one add command knows while it runs. A scan adds thousands of files to a list that may
// hold 100,000 tracks, so the paths of the list are gathered once per command rather than looked
// for in the cache file by file.
struct TMainForm::TLoadState {
  TPathSet listed;
  // The folders this command's scan has walked, by device and inode.
  std::set<platform::FolderId> walked;
};

// Made by each step that adds tracks; only the outermost one of a command makes the state, which
// the steps it calls share.
class TMainForm::TLoadScope {
 public:
  explicit TLoadScope(TMainForm* form) : form_(form), own_(!form->FLoad) {
    if (!own_) return;
    auto state = std::make_shared<TLoadState>();
    if (const TMp3Cache* cache = Mp3Session->CacheMp3()) {
      state->listed.reserve(static_cast<qsizetype>(cache->size()));
      for (const TMp3PlayerPtr& record : *cache) state->listed.insert(record->Mp3Path());
    }
    form->FLoad = std::move(state);
  }
  ~TLoadScope() {
    if (!own_) return;
    form_->FLoad.reset();
    TMp3Session::ForgetStoredPaths();
  }
  TLoadScope(const TLoadScope&) = delete;
  TLoadScope& operator=(const TLoadScope&) = delete;

 private:
  TMainForm* form_;
  bool own_;
};

bool TMainForm::Claim(const QString& path) {
  return !FLoad || FLoad->listed.insert(path);
}

void TMainForm::AddScannedRecord(const TMp3PlayerPtr& record) {
  AppendRow(record);
  Mp3Session->AddToCache(record);
}

void TMainForm::ScanFolder(const QString& dir) {
  TLoadScope scope(this);
  // A folder met again under another path (a bind mount) is walked once per scan.
  const std::optional<platform::FolderId> id = platform::folderId(dir);
  if (!id || !FLoad->walked.insert(*id).second) return;
  TWaitCursor wait;
  FNewID = 0;
  BeginListUpdate();
  struct Resume {
    TMainForm* form;
    ~Resume() { form->EndListUpdate(); }
  } resume{this};

  const std::vector<platform::DirEntry> entries = platform::findFiles(dir, QStringLiteral("*.mp3"));
  if (!entries.empty()) {
    const QString saved = MainPlayListFile();
    if (CurrMp3) FNewID = Mp3Session->GetNextID(saved);
    TPendingEvents pending;
    // The saved list is looked at once per folder rather than once per file; a save made by a
    // command run from the events processed below is seen from the next folder on.
    std::shared_ptr<const TPathSet> stored;
    // One folder string for all tracks of the folder: their records share it.
    const QString folder = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    for (const platform::DirEntry& entry : entries) {
      if (entry.attributes & ~kOrdinaryAttributes) {
        ++FNewID;
        continue;
      }
      const QString full = platform::joinPath(dir, entry.name);
      if (!Claim(full)) continue;
      if (CurrMp3) {
        if (!stored) stored = Mp3Session->StoredPaths(saved);
        if (stored->contains(full)) continue;
      }
      // The search has just looked the entry up; its size is the one a second look-up would give.
      CurrMp3 = std::make_shared<TMp3Player>(FNewID, folder, entry.name,
                                             platform::displayName(entry.name),
                                             SizeText(entry.size), QString(), 0, 0);
      AddScannedRecord(CurrMp3);
      pending.Process();
      ++FNewID;
    }
  }
  // Sub-folders are walked whether or not this folder holds tracks: a music folder mostly holds
  // only artist folders, and those only album folders.
  ScanSubFolders(dir);
}

void TMainForm::ScanSubFolders(const QString& dir) {
  TLoadScope scope(this);
  for (const platform::DirEntry& entry : platform::findFolders(dir)) {
    // Only plain folders: hidden and linked ones are not entered.
    if (entry.attributes != platform::faDirectory) continue;
    FDirectories.append(entry.name);
    ScanFolder(platform::joinPath(dir, entry.name));
  }
}

void TMainForm::AddTrackPath(const QString& path, const QString& name) {
  TLoadScope scope(this);
  if (platform::isFolder(path)) {
    ScanSubFolders(path);
    ScanFolder(path);
    return;
  }
  const QString saved = MainPlayListFile();
  FNewID = Mp3Session->GetNextID(saved);
  if (!platform::pathExists(path)) return;
  // A path the saved list holds stays claimed: any later add of it in this command is refused
  // all the same.
  if (!Claim(path) || Mp3Session->GetMp3ByName(saved, path)) {
    Dialogs().ShowMessage(this, QStringLiteral("This file is exists!"));
    return;
  }
  CurrMp3 = std::make_shared<TMp3Player>(FNewID, path, platform::displayName(name),
                                         GetFileSizeKB(path), QString(), 0, 0);
  AddScannedRecord(CurrMp3);
}

QString TMainForm::ResolveShortcut(const QString& path) {
  return platform::resolveShortcut(path);
}

void TMainForm::AddDroppedPath(QString path) {
  if (HasExtension(path, QLatin1String(".lnk"))) path = ResolveShortcut(path);
  AddTrackPath(path, FileNamePart(path));
}

void TMainForm::WMDropFiles(const QStringList& paths) {
  TLoadScope scope(this);
  TGroupWalkScope groups(this);
  CurrMp3.reset();
  ProgressBar1->show();
  lblLoading->show();
  struct Finish {
    TMainForm* form;
    ~Finish() {
      form->StartTimeThread();
      form->MainPanel->setEnabled(true);
    }
  } finish{this};
  for (qsizetype i = 0; i < paths.size(); ++i) {
    const QString& path = paths[i];
    AddDroppedPath(path);
    if (!HasExtension(path, QLatin1String(".mp3"))) {
      MainPanel->setEnabled(false);
      ProgressBar1->hide();
      lblLoading->hide();
      continue;
    }
    AddMp3Group(path, true);
    if (i > 0) AddMp3SubGroups(path);
    if (!CurrMp3) {
      // Nothing of this drop was added (the file was in the saved list): the rest is skipped.
      LoadPlayListFile(path);
      return;
    }
  }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.append(LocalPath(url));
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  RunGuarded(this, [&] { WMDropFiles(paths); });
}

void TMainForm::ALoadDirExecute() {
  FDefaultPath = DefPathCaption();
  const QString chosen =
      Dialogs().SelectFolder(this, QStringLiteral("Select Directory"), FDefaultPath);
  if (chosen.isEmpty()) return;
  milestones::Mark("folder-chosen");
  FDefaultPath = chosen;
  ProgressBar1->show();
  lblLoading->show();
  struct Finish {
    TMainForm* form;
    ~Finish() {
      QApplication::restoreOverrideCursor();
      form->MainPanel->setEnabled(true);
      form->StartTimeThread();
      RunGuarded(form, [this] { form->AddMp3Group(form->FDefaultPath, true); });
      form->FEnumTabs = et_Mp3;
      form->ScheduleActionUpdate();
      milestones::MarkAfterNextPaint(form->lvMain->viewport(), "rows",
                                     [list = form->FTrackList] { return list->rowCount(); });
    }
  };
  QApplication::setOverrideCursor(Qt::WaitCursor);
  MainPanel->setEnabled(false);
  Finish finish{this};
  ScanFolder(FDefaultPath);
  if (FTrackList->rowCount() > 0)
    lvMain->selectionModel()->select(
        FTrackList->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TMainForm::ALoadFileExecute() {
  const QString path = Dialogs().OpenFile(this, QStringLiteral("Load File"), FDefaultPath,
                                          QStringLiteral("All Mp3 (*.mp3);;All M3u (*.m3u)"));
  if (path.isEmpty()) return;
  if (Mp3Session->GetMp3ByName(MainPlayListFile(), path)) {
    Dialogs().ShowMessage(this, QStringLiteral("This file is exists!"));
    return;
  }
  AddTrackPath(path, FileNamePart(path));
  StartTimeThread();
  SaveMainPlayList(MainPlayListFile());
}

void TMainForm::Am3uExecute() {
  const QString path = Dialogs().OpenFile(this, QStringLiteral("Load m3u"), FDefaultPath,
                                          QStringLiteral("All M3u (*.m3u)"));
  if (path.isEmpty()) return;
  AddTrackPath(path, FileNamePart(path));
  Mp3PlayExecute();
}
