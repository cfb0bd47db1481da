#include "ui/searchdialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/dialogs.h"
#include "ui/languageapply.h"
#include "ui/titlesearch.h"
#include "ui/waitcursor.h"

TSearchResultsModel::TSearchResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

int TSearchResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !records_ ? 0 : static_cast<int>(records_->size());
}

int TSearchResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QVariant TSearchResultsModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const TMp3PlayerPtr& record = Record(index.row());
  if (index.column() == colTitle) return record->Mp3Name();
  if (index.column() == colTime && withTimes_) return record->Mp3Time();
  return {};
}

QVariant TSearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == colTitle) return QStringLiteral("Title");
  if (section == colTime) return QStringLiteral("Time");
  return {};
}

void TSearchResultsModel::SetRecords(TRecords records, bool withTimes) {
  beginResetModel();
  records_ = std::move(records);
  withTimes_ = withTimes;
  endResetModel();
}

TFSearch::TFSearch(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FSearch"));
  setWindowTitle(QStringLiteral("Find"));
  setFixedSize(465, 389);

  lblSearchKey = new QLabel(QStringLiteral("Key"), this);
  edtSearch = new QLineEdit(this);
  lblSearchResults = new QLabel(QStringLiteral("Results"), this);
  lvSearch = new QTreeView(this);
  btnSearchOK = new QPushButton(QStringLiteral("OK"), this);
  btnSearchCancel = new QPushButton(QStringLiteral("Cancel"), this);
  lblSearchKey->setObjectName(QStringLiteral("lblSearchKey"));
  edtSearch->setObjectName(QStringLiteral("edtSearch"));
  lblSearchResults->setObjectName(QStringLiteral("lblSearchResults"));
  lvSearch->setObjectName(QStringLiteral("lvSearch"));
  btnSearchOK->setObjectName(QStringLiteral("btnSearchOK"));
  btnSearchCancel->setObjectName(QStringLiteral("btnSearchCancel"));
  lblSearchKey->setBuddy(edtSearch);
  lblSearchResults->setBuddy(lvSearch);

  FResults = new TSearchResultsModel(this);
  lvSearch->setModel(FResults);
  lvSearch->setRootIsDecorated(false);
  lvSearch->setItemsExpandable(false);
  // One height for all rows: the view never measures 100,000 of them.
  lvSearch->setUniformRowHeights(true);
  lvSearch->setSelectionMode(QAbstractItemView::SingleSelection);
  lvSearch->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvSearch->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvSearch->header()->setStretchLastSection(false);
  lvSearch->header()->setSectionsMovable(false);
  lvSearch->setColumnWidth(TSearchResultsModel::colTitle, 200);
  lvSearch->setColumnWidth(TSearchResultsModel::colTime, 100);

  // Enter in the key edit chooses nothing: only the list's Enter, a double click and OK do.
  btnSearchOK->setAutoDefault(false);
  btnSearchCancel->setAutoDefault(false);

  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(lblSearchKey);
  keyRow->addWidget(edtSearch, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnSearchOK);
  buttons->addWidget(btnSearchCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(keyRow);
  layout->addWidget(lblSearchResults);
  layout->addWidget(lvSearch, 1);
  layout->addLayout(buttons);

  setTabOrder(edtSearch, lvSearch);
  setTabOrder(lvSearch, btnSearchOK);
  setTabOrder(btnSearchOK, btnSearchCancel);
  edtSearch->setFocus();

  connect(edtSearch, &QLineEdit::textChanged, this, [this] { edtSearchChange(); });
  connect(lvSearch, &QAbstractItemView::doubleClicked, this, [this] { lvSearchDblClick(); });
  connect(btnSearchOK, &QPushButton::clicked, this, [this] { btnSearchOKClick(); });
  connect(btnSearchCancel, &QPushButton::clicked, this, [this] { btnSearchCancelClick(); });
  lvSearch->installEventFilter(this);
}

bool TFSearch::Execute(const TMp3Cache* Names, int LanguageIndex) {
  Init(Names, LanguageIndex);
  return exec() == QDialog::Accepted;
}

void TFSearch::Init(const TMp3Cache* Names, int LanguageIndex) {
  const QString file = LanguageIndex == 0   ? QStringLiteral("english.lng")
                       : LanguageIndex == 1 ? QStringLiteral("bulgarian.lng")
                                            : QString();
  // A language file that cannot be read is reported; the dialog still serves in its own texts.
  if (!file.isEmpty())
    RunGuarded(parentWidget() ? parentWidget() : this, [&] { SetLanguage(this, file); });
  FNames = Names ? std::make_shared<const std::vector<TMp3PlayerPtr>>(*Names) : nullptr;
  FFoldedNames.clear();
  FillNames();
}

void TFSearch::FillNames() {
  if (!FNames) return;
  TWaitCursor wait;
  FResults->SetRecords(FNames, true);
  if (FResults->rowCount() > 0)
    lvSearch->selectionModel()->setCurrentIndex(
        FResults->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TFSearch::FilterNames(const QString& Key) {
  if (!FNames) {
    FResults->SetRecords(nullptr, false);
    return;
  }
  if (FFoldedNames.size() != FNames->size()) {
    FFoldedNames.clear();
    FFoldedNames.reserve(FNames->size());
    for (const TMp3PlayerPtr& mp3 : *FNames)
      FFoldedNames.push_back(TTitleKey::Fold(mp3->Mp3Name()));
  }
  const TTitleKey key(Key);
  auto matches = std::make_shared<std::vector<TMp3PlayerPtr>>();
  for (std::size_t i = 0; i < FFoldedNames.size(); ++i)
    if (key.FoundIn(FFoldedNames[i])) matches->push_back((*FNames)[i]);
  FResults->SetRecords(std::move(matches), false);
}

void TFSearch::edtSearchChange() {
  const QString key = edtSearch->text();
  if (key.isEmpty())
    FillNames();
  else
    FilterNames(key);
}

void TFSearch::btnSearchOKClick() {
  const QModelIndexList selected = lvSearch->selectionModel()->selectedRows();
  FCurrMp3 = selected.isEmpty() ? nullptr : FResults->Record(selected.first().row());
  accept();
}

void TFSearch::btnSearchCancelClick() {
  reject();
}

void TFSearch::lvSearchDblClick() {
  btnSearchOKClick();
}

bool TFSearch::lvSearchKeyPress(const QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
  btnSearchOKClick();
  return true;
}

bool TFSearch::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvSearch && event->type() == QEvent::KeyPress &&
      lvSearchKeyPress(static_cast<QKeyEvent*>(event)))
    return true;
  return QDialog::eventFilter(watched, event);
}
