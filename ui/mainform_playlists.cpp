// The named play lists: copies of the main list kept under names of the user's own, listed in
// the registry file and on the page "Play List".
#include <QFileInfo>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>

#include <cstring>

#include "platform/atomicfile.h"
#include "platform/filemove.h"
#include "platform/inifile.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

namespace {

// The row's name-and-path record, on the row's first cell.
constexpr int kEntryRole = Qt::UserRole + 1;

}  // namespace

Q_DECLARE_METATYPE(TMp3PlayerPtr)

void TMainForm::ConnectPlayLists() {
  connect(lvPlayLists, &QAbstractItemView::doubleClicked, this,
          [this] { RunGuarded(this, [this] { lvPlayListsDblClick(); }); });
}

QString TMainForm::UserPlayListsFile() const {
  return FWindowsTemporaryDir + QStringLiteral("NewPlayList.DAT");
}

void TMainForm::AppendPlayListRow(const TMp3PlayerPtr& entry) {
  auto* name = new QStandardItem(entry->Mp3Name());
  name->setData(QVariant::fromValue(entry), kEntryRole);
  name->setEditable(false);
  auto* path = new QStandardItem(entry->Mp3Path());
  path->setEditable(false);
  FPlayLists->appendRow({name, path});
}

int TMainForm::FirstSelectedPlayList() const {
  const QModelIndexList rows = lvPlayLists->selectionModel()->selectedRows();
  int first = -1;
  for (const QModelIndex& row : rows)
    if (first < 0 || row.row() < first) first = row.row();
  return first;
}

std::vector<std::pair<QString, QString>> TMainForm::PlayListEntries() const {
  std::vector<std::pair<QString, QString>> entries;
  for (int row = 0; row < FPlayLists->rowCount(); ++row)
    entries.emplace_back(FPlayLists->item(row, 0)->text(), FPlayLists->item(row, 1)->text());
  return entries;
}

void TMainForm::SaveUserPlayLists(const QString& FileName, const QString& ListName,
                                  const QString& Location, bool NoAdd) {
  if (!ListName.isEmpty() && !Location.isEmpty() && !NoAdd) {
    AppendPlayListRow(std::make_shared<TMp3Player>(FPlayLists->rowCount(), Location, ListName,
                                                   QString(), QString(), 0, 0));
  }
  platform::IniFile ini(FileName);
  TMp3Settings::WriteUserPlayLists(ini, PlayListEntries());
  ini.commit();
}

void TMainForm::LoadUserPlayLists(const QString& FileName) {
  for (const TMp3PlayerPtr& entry : Mp3Session->Mp3Settings().ReadUserPlayLists(FileName))
    AppendPlayListRow(entry);
}

void TMainForm::ASaveListExecute() {
  const QString path = Dialogs().SaveFile(this, QString(), QString(), QString());
  if (path.isEmpty()) return;
  SaveUserPlayLists(UserPlayListsFile(), QFileInfo(path).fileName(), path, false);
  SaveMainPlayList(path);
  SaveSettings(path);
}

void TMainForm::ALoadPlayListExecute() {
  const QString path = Dialogs().OpenFile(this, QString(), QString(), QString());
  if (path.isEmpty()) return;
  FDirectories.clear();
  CurrMp3.reset();
  FNewID = 0;
  Progress->setMaximum(0);
  Timer->stop();
  SetDefPathCaption(NoDefaultPathCaption());
  LoadSettings();
  LoadPlayListFile(path);
  SaveUserPlayLists(UserPlayListsFile(), QFileInfo(path).fileName(), path, false);
}

void TMainForm::AFillPlayListExecute() {
  lvPlayListsDblClick();
}

void TMainForm::lvPlayListsDblClick() {
  const int row = FirstSelectedPlayList();
  if (row < 0 || FPlayLists->rowCount() == 0) return;
  const QString path = FPlayLists->item(row, 1)->text();
  AClearPlayListExecute();
  LoadPlayListFile(path);
  SetActivePage(tsMp3Player);
  FEnumTabs = et_Mp3;
  ScheduleActionUpdate();
}

void TMainForm::ADeletePlayListExecute() {
  const int row = FirstSelectedPlayList();
  if (row < 0) return;
  const QString name = FPlayLists->item(row, 0)->text();
  if (!Dialogs().Confirm(this, QStringLiteral("Are you shure delete %1?").arg(name))) return;
  FPlayLists->removeRow(row);
  // A fresh registry of the rows left, in one replacement: never a moment without one.
  platform::IniFile fresh = platform::IniFile::fromBytes({});
  TMp3Settings::WriteUserPlayLists(fresh, PlayListEntries());
  if (!platform::writeFileAtomically(UserPlayListsFile(), fresh.text()))
    throw platform::IniWriteError(UserPlayListsFile());
}

void TMainForm::ARenamePlayListExecute() {
  const int row = FirstSelectedPlayList();
  if (row < 0) return;
  const QString oldName = FPlayLists->item(row, 0)->text();
  const QString oldPath = FPlayLists->item(row, 1)->text();
  const QString initial = QFileInfo(oldName).fileName();
  const QString newName =
      Dialogs().InputText(this, QString(), QString(), initial).value_or(initial);
  QString folder = QFileInfo(oldPath).path();
  if (!folder.endsWith(u'/')) folder += u'/';
  const QString newPath = folder + newName;
  if (newPath != oldPath) {
    // Another file of that name is the user's too: the move never replaces it.
    if (const int error = platform::moveWithoutReplacing(oldPath, newPath)) {
      Dialogs().ShowMessage(
          this,
          QStringLiteral("Cannot rename %1 to %2: %3")
              .arg(oldPath, newPath, QString::fromLocal8Bit(std::strerror(error))),
          {}, TMessageIcon::Error);
      return;
    }
  }
  const TMp3PlayerPtr entry = FPlayLists->item(row, 0)->data(kEntryRole).value<TMp3PlayerPtr>();
  if (entry) {
    entry->SetMp3Name(newName);
    entry->SetMp3Path(newPath);
  }
  FPlayLists->item(row, 0)->setText(newName);
  FPlayLists->item(row, 1)->setText(newPath);
  SaveUserPlayLists(UserPlayListsFile(), newName, newPath, true);
}
