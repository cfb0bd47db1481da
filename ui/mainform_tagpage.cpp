// The page "TAG  - Info": the tracks of the cache by title, and the ID3v1 fields of the one
// selected. Nothing is ever written to a file.
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>

#include "model/id3v1tag.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

void TMainForm::ConnectTagPage() {
  connect(lvTAGID->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) {
            if (selected.isEmpty()) return;
            // A range or select-all selects many rows in one step. Row by row the last one would
            // win; only that one is read, not a file per row.
            int last = -1;
            for (const QItemSelectionRange& range : selected) last = std::max(last, range.bottom());
            RunGuarded(this, [&] { lvTAGIDSelectItem(last, true); });
          });
}

void TMainForm::FillTagList() {
  const TMp3Cache* cache = Mp3Session->CacheMp3();
  FTagList->SetRecords(cache ? *cache : TMp3Cache());
}

void TMainForm::lvTAGIDSelectItem(int Item, bool Selected) {
  if (!Selected) return;
  const TMp3PlayerPtr record =
      Item >= 0 && Item < FTagList->rowCount() ? FTagList->Record(Item) : nullptr;
  CurrMp3 = record;
  if (!record) {
    ClearTagInfo();
    return;
  }
  // The playing track too: its file is not locked while it plays, so its tag can be shown.
  ReadMp3Tag(record->Mp3Path());
}

void TMainForm::ReadMp3Tag(const QString& FileName) {
  if (FileName.isEmpty()) return;
  const std::optional<id3v1::TTag> tag = id3v1::ReadFileTag(FileName);
  if (!tag) {
    ClearTagInfo();
    return;
  }
  const std::pair<QLineEdit*, QString> fields[] = {{edTitle, tag->Title},
                                                   {edArtist, tag->Artist},
                                                   {edAlbum, tag->Album},
                                                   {edYear, tag->Year},
                                                   {edGenre, id3v1::GenreText(tag->Genre)},
                                                   {edComment, tag->Comment}};
  for (const auto& [edit, text] : fields) {
    edit->setText(text);
    edit->setCursorPosition(0);  // a text wider than its edit shows its start
  }
}

void TMainForm::ClearTagInfo() {
  for (QLineEdit* edit : {edTitle, edArtist, edAlbum, edYear, edGenre, edComment}) edit->clear();
}
