// The folder groups tree on the page "Mp3 Node": building groups from folders, the group file,
// and the tree's commands and events.
#include <QCheckBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QTreeView>

#include <set>

#include "model/groupfile.h"
#include "model/pendingevents.h"
#include "platform/atomicfile.h"
#include "platform/dirsearch.h"
#include "platform/inifile.h"
#include "platform/pathcodec.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/nodetree.h"
#include "ui/tracklistmodel.h"
#include "ui/waitcursor.h"

namespace {

// The attribute bits a group accepts in a track; anything beyond them (a link to a folder, for
// one) is skipped.
constexpr std::uint32_t kOrdinaryAttributes = 0x1FF;

}  // namespace

QString TMainForm::GroupListFile() const {
  return FWindowsTemporaryDir + QStringLiteral("MP3_GROUP_LIST.DAT");
}

void TMainForm::AddMp3Group(const QString& Folder, bool WithSubFolders) {
  TWaitCursor wait;
  FNewID = 0;
  // A walk that goes down the sub-folders enters each folder once; a single folder (a stored
  // group) is always taken, so a folder stored twice shows twice.
  std::optional<TGroupWalkScope> scope;
  if (WithSubFolders || FGroupWalk) {
    scope.emplace(this);
    const std::optional<platform::FolderId> id = platform::folderId(Folder);
    if (id && !FGroupWalk->insert(*id).second) return;
  }
  const std::vector<platform::DirEntry> entries =
      platform::findFiles(Folder, QStringLiteral("*.mp3"));
  if (!entries.empty() && NodeMp3) FNewID = Mp3Session->GetNextID(MainPlayListFile());
  // One folder string for all tracks of the group: their records share it.
  const QString folder = Folder.endsWith(QLatin1Char('/')) ? Folder : Folder + QLatin1Char('/');
  std::vector<TMp3PlayerPtr> tracks;
  tracks.reserve(entries.size());
  for (const platform::DirEntry& entry : entries) {
    if (!(entry.attributes & ~kOrdinaryAttributes)) {
      // The search has just looked the entry up; its size is the one a second look-up would give.
      tracks.push_back(std::make_shared<TMp3Player>(
          FNewID, folder, entry.name, platform::displayName(entry.name),
          QString::number(entry.size / 1000), QString(), 0, 0));
      NodeMp3 = tracks.back();
    }
    ++FNewID;
  }
  if (!tracks.empty()) {
    tracks.shrink_to_fit();
    FNodes->AppendGroup(Folder, std::move(tracks));
    ScheduleActionUpdate();
  }
  if (WithSubFolders) AddMp3SubGroups(Folder);
}

void TMainForm::AddMp3SubGroups(const QString& Folder) {
  TGroupWalkScope scope(this);
  TPendingEvents pending;
  for (const platform::DirEntry& entry : platform::findFolders(Folder)) {
    // Only plain folders: hidden and linked ones are not entered.
    if (entry.attributes != platform::faDirectory) continue;
    FDirectories.append(entry.name);
    // Depth first, as the main list's scan walks: a folder's group, then those of its
    // sub-folders, before the next sibling.
    AddMp3Group(platform::joinPath(Folder, entry.name), true);
    pending.Process();
  }
}

void TMainForm::SaveMp3Groups(const QString& FileName) {
  TBusyScope busy(this);
  if (FKeepGroupFile && FileName == GroupListFile()) throw platform::IniWriteError(FileName);
  std::vector<QString> folders;
  folders.reserve(FNodes->Groups().size());
  for (const TNodeTreeModel::TGroup& group : FNodes->Groups()) folders.push_back(group.folder);
  if (folders.empty()) {
    // Groups that cannot be removed would come back at the next start.
    if (QFile::exists(FileName) && !QFile::remove(FileName))
      throw platform::IniWriteError(FileName);
    return;
  }
  if (!platform::writeFileAtomically(FileName, groupfile::GroupsText(folders)))
    throw platform::IniWriteError(FileName);
}

void TMainForm::LoadMp3Groups(const QString& FileName) {
  TBusyScope busy(this);
  FNodes->Clear();
  const platform::IniFile ini(FileName);
  const std::vector<QString> folders = groupfile::ReadGroups(ini);
  // A file there that could not be read still holds the groups of an earlier run.
  if (FileName == GroupListFile() && ini.unreadable()) FKeepGroupFile = true;
  TPendingEvents pending;
  for (const QString& folder : folders) {
    if (folder.isEmpty()) continue;
    AddMp3Group(folder, false);
    pending.Process();
  }
}

void TMainForm::ADeleteNodeExecute() {
  if (!Dialogs().Confirm(this, QStringLiteral("Are you shure?"))) return;
  FNodes->Clear();
  ScheduleActionUpdate();
}

void TMainForm::AMovePlayListExecute() {
  if (FNodes->Groups().empty()) return;
  struct Finish {
    TMainForm* form;
    ~Finish() { form->StartTimeThread(); }
  };
  FPendingRows.clear();
  FTrackList->Clear();
  Mp3Session->Refresh();
  ProgressBar1->show();
  lblLoading->show();
  Finish finish{this};
  for (const TMp3PlayerPtr& record : FNodes->AllRecords()) Mp3Session->AddToCache(record);
  RefreshList();
  ScheduleActionUpdate();
}

void TMainForm::cboxExpandClick() {
  if (cboxExpand->isChecked())
    Mp3Node->expandAll();
  else
    Mp3Node->collapseAll();
}

void TMainForm::Mp3NodeChange() {
  const QModelIndexList selected = Mp3Node->selectionModel()->selectedRows();
  NodeMp3 = selected.isEmpty() ? TMp3PlayerPtr() : NodeRecord(selected.first());
}
