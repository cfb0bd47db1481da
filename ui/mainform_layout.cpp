// The window's components: the six pages and the strip below them.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/mainform.h"
#include "ui/nodetree.h"
#include "ui/positionbar.h"
#include "ui/settingsvalues.h"
#include "ui/tracklistmodel.h"

namespace {

template <class W, class... Args>
W* Make(QWidget* parent, const char* name, Args&&... args) {
  auto* widget = new W(std::forward<Args>(args)..., parent);
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = Make<QLabel>(parent, name);
  label->setText(text);
  return label;
}

void SetListBackground(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, settingsvalues::InactiveCaptionColor());
  widget->setPalette(palette);
}

QTreeView* MakeReportList(QWidget* parent, const char* name) {
  auto* list = Make<QTreeView>(parent, name);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setItemsExpandable(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setAllColumnsShowFocus(true);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  list->header()->setStretchLastSection(false);
  SetListBackground(list);
  return list;
}

}  // namespace

void TMainForm::CreateComponents() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("MainClient"));
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 0);
  pcMain = Make<QTabWidget>(central, "pcMain");
  layout->addWidget(pcMain, 1);
  CreatePages();
  layout->addWidget(CreateBottomStrip());
  setCentralWidget(central);

  StatusBar = Make<QStatusBar>(this, "StatusBar");
  const struct {
    const char* text;
    int width;
    Qt::Alignment align;
  } panels[] = {{"Time", 100, Qt::AlignLeft},
                {"Total Time", 255, Qt::AlignLeft},
                {"Bulgarian Velmo 1.9", 100, Qt::AlignRight}};
  for (int i = 0; i < 3; ++i) {
    FStatusPanels[i] = new QLabel(QLatin1String(panels[i].text), StatusBar);
    FStatusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    FStatusPanels[i]->setAlignment(panels[i].align | Qt::AlignVCenter);
    if (i < 2) {
      FStatusPanels[i]->setFixedWidth(panels[i].width);
      StatusBar->addWidget(FStatusPanels[i]);
    } else {
      // The last panel keeps its text whole at the right edge, however wide the font.
      FStatusPanels[i]->setMinimumWidth(panels[i].width);
      StatusBar->addPermanentWidget(FStatusPanels[i]);
    }
  }
  setStatusBar(StatusBar);

  MainMenu = Make<QMenuBar>(this, "MainMenu");
  setMenuBar(MainMenu);
  PopupMenu = Make<QMenu>(this, "PopupMenu");
  pmPlayLists = Make<QMenu>(this, "pmPlayLists");
  pmNode = Make<QMenu>(this, "pmNode");

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(100);
}

void TMainForm::CreatePages() {
  // "Mp3": the fast search above the main list.
  tsMp3Player = Make<QWidget>(pcMain, "tsMp3Player");
  auto* mp3Layout = new QVBoxLayout(tsMp3Player);
  pnlSearch = Make<QWidget>(tsMp3Player, "pnlSearch");
  auto* searchLayout = new QVBoxLayout(pnlSearch);
  searchLayout->setContentsMargins(0, 0, 0, 0);
  lblFastSearch = MakeLabel(pnlSearch, "lblFastSearch", QStringLiteral("Търси ..."));
  QFont bold = lblFastSearch->font();
  bold.setBold(true);
  lblFastSearch->setFont(bold);
  edtSearch = Make<QLineEdit>(pnlSearch, "edtSearch");
  searchLayout->addWidget(lblFastSearch);
  searchLayout->addWidget(edtSearch);
  MainPanel = Make<QWidget>(tsMp3Player, "MainPanel");
  auto* mainPanelLayout = new QVBoxLayout(MainPanel);
  mainPanelLayout->setContentsMargins(0, 0, 0, 0);
  lvMain = MakeReportList(MainPanel, "lvMain");
  mainPanelLayout->addWidget(lvMain);
  mp3Layout->addWidget(pnlSearch);
  mp3Layout->addWidget(MainPanel, 1);
  pcMain->addTab(tsMp3Player, QStringLiteral("Mp3"));

  // "Mp3 Node": the folder tree.
  tsMp3Node = Make<QWidget>(pcMain, "tsMp3Node");
  auto* nodeLayout = new QVBoxLayout(tsMp3Node);
  pnlControlNode = Make<QWidget>(tsMp3Node, "pnlControlNode");
  auto* controlLayout = new QHBoxLayout(pnlControlNode);
  controlLayout->setContentsMargins(0, 0, 0, 0);
  cboxExpand = Make<QCheckBox>(pnlControlNode, "cboxExpand", QStringLiteral("Expand List"));
  controlLayout->addWidget(cboxExpand);
  controlLayout->addStretch(1);
  Mp3Node = Make<QTreeView>(tsMp3Node, "Mp3Node");
  Mp3Node->setHeaderHidden(true);
  Mp3Node->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Mp3Node->setContextMenuPolicy(Qt::CustomContextMenu);
  Mp3Node->setIndentation(19);
  Mp3Node->setUniformRowHeights(true);
  SetListBackground(Mp3Node);
  FNodes = new TNodeTreeModel(this);
  Mp3Node->setModel(FNodes);
  nodeLayout->addWidget(pnlControlNode);
  nodeLayout->addWidget(Mp3Node, 1);
  pcMain->addTab(tsMp3Node, QStringLiteral("Mp3 Node"));

  // "Play List": the named play lists.
  tsPlayList = Make<QWidget>(pcMain, "tsPlayList");
  auto* playListLayout = new QVBoxLayout(tsPlayList);
  lvPlayLists = MakeReportList(tsPlayList, "lvPlayLists");
  FPlayLists = new QStandardItemModel(0, 2, this);
  FPlayLists->setHorizontalHeaderLabels({QStringLiteral("List name"), QStringLiteral("Path")});
  lvPlayLists->setModel(FPlayLists);
  lvPlayLists->setColumnWidth(0, 200);
  lvPlayLists->setColumnWidth(1, 300);
  playListLayout->addWidget(lvPlayLists);
  pcMain->addTab(tsPlayList, QStringLiteral("Play List"));

  // "TAG  - Info": the fields of the selected track's tag and the list of tracks.
  tsTAGID = Make<QWidget>(pcMain, "tsTAGID");
  auto* tagLayout = new QHBoxLayout(tsTAGID);
  GroupBox3 = Make<QGroupBox>(tsTAGID, "GroupBox3");
  auto* fields = new QGridLayout(GroupBox3);
  const struct {
    QLabel** label;
    const char* labelName;
    const char* caption;
    QLineEdit** edit;
    const char* editName;
  } tagFields[] = {{&lblTitle, "lblTitle", "Title", &edTitle, "edTitle"},
                   {&lblSinger, "lblSinger", "Singer", &edArtist, "edArtist"},
                   {&lblAlbum, "lblAlbum", "Album", &edAlbum, "edAlbum"},
                   {&lblYear, "lblYear", "Year", &edYear, "edYear"},
                   {&lblStyle, "lblStyle", "Style", &edGenre, "edGenre"},
                   {&lblComment, "lblComment", "Comment", &edComment, "edComment"}};
  int row = 0;
  for (const auto& field : tagFields) {
    *field.label = MakeLabel(GroupBox3, field.labelName, QLatin1String(field.caption));
    *field.edit = Make<QLineEdit>(GroupBox3, field.editName);
    (*field.edit)->setReadOnly(true);
    (*field.edit)->setFrame(false);
    SetListBackground(*field.edit);
    fields->addWidget(*field.label, row, 0);
    fields->addWidget(*field.edit, row, 1);
    ++row;
  }
  fields->setRowStretch(row, 1);
  GroupBox4 = Make<QGroupBox>(tsTAGID, "GroupBox4");
  auto* tagListLayout = new QVBoxLayout(GroupBox4);
  lvTAGID = MakeReportList(GroupBox4, "lvTAGID");
  FTagList = new TTagListModel(this);
  lvTAGID->setModel(FTagList);
  lvTAGID->setColumnWidth(0, 300);
  tagListLayout->addWidget(lvTAGID);
  tagLayout->addWidget(GroupBox3, 1);
  tagLayout->addWidget(GroupBox4, 1);
  pcMain->addTab(tsTAGID, QStringLiteral("TAG  - Info"));

  // "Options".
  tsOptions = Make<QWidget>(pcMain, "tsOptions");
  auto* optionsLayout = new QVBoxLayout(tsOptions);
  MainSettings = Make<QGroupBox>(tsOptions, "MainSettings", QStringLiteral("Settings"));
  auto* settingsLayout = new QVBoxLayout(MainSettings);
  GroupBox1 = Make<QGroupBox>(MainSettings, "GroupBox1");
  auto* pathLayout = new QVBoxLayout(GroupBox1);
  spDefPath = Make<QToolButton>(GroupBox1, "spDefPath");
  spDefPath->setText(QStringLiteral("Set your default path to Mp3 ..."));
  spDefPath->setAutoRaise(true);
  btnDefaultSettings =
      Make<QPushButton>(GroupBox1, "btnDefaultSettings", QStringLiteral("Set default settings"));
  pathLayout->addWidget(spDefPath);
  pathLayout->addWidget(btnDefaultSettings);
  GrBoxLng = Make<QGroupBox>(MainSettings, "GrBoxLng", QStringLiteral("Languages"));
  auto* lngLayout = new QVBoxLayout(GrBoxLng);
  cboxLng = Make<QComboBox>(GrBoxLng, "cboxLng");
  cboxLng->addItems({QStringLiteral("English"), QStringLiteral("Български")});
  cboxLng->setCurrentIndex(0);
  lngLayout->addWidget(cboxLng);
  GrBoxOther = Make<QGroupBox>(MainSettings, "GrBoxOther", QStringLiteral("Other"));
  auto* otherLayout = new QGridLayout(GrBoxOther);
  btnFont = Make<QPushButton>(GrBoxOther, "btnFont", QStringLiteral("Set Font"));
  btnColor = Make<QPushButton>(GrBoxOther, "btnColor", QStringLiteral("Set Color"));
  cboxSysTray = Make<QCheckBox>(GrBoxOther, "cboxSysTray", QStringLiteral("Run  - System tray"));
  cboxShowCheckList =
      Make<QCheckBox>(GrBoxOther, "cboxShowCheckList", QStringLiteral("Check - Play List "));
  cboxRepeat = Make<QCheckBox>(GrBoxOther, "cboxRepeat", QStringLiteral("Repeat - Play List"));
  CboxGridView = Make<QCheckBox>(GrBoxOther, "CboxGridView", QStringLiteral("Show - Grid Lines"));
  otherLayout->addWidget(btnFont, 0, 0);
  otherLayout->addWidget(btnColor, 1, 0);
  otherLayout->addWidget(cboxSysTray, 0, 1);
  otherLayout->addWidget(cboxShowCheckList, 1, 1);
  otherLayout->addWidget(cboxRepeat, 0, 2);
  otherLayout->addWidget(CboxGridView, 1, 2);
  lblNoSysTray = MakeLabel(GrBoxOther, "lblNoSysTray",
                           QStringLiteral("No notification area here: closing ends the program"));
  lblNoSysTray->setWordWrap(true);
  otherLayout->addWidget(lblNoSysTray, 2, 1, 1, 2);
  auto* topRow = new QHBoxLayout;
  topRow->addWidget(GroupBox1, 1);
  topRow->addWidget(GrBoxLng, 1);
  settingsLayout->addLayout(topRow);
  settingsLayout->addWidget(GrBoxOther);
  settingsLayout->addStretch(1);
  optionsLayout->addWidget(MainSettings);
  pcMain->addTab(tsOptions, QStringLiteral("Options"));

  // "About".
  tsAbout = Make<QWidget>(pcMain, "tsAbout");
  auto* aboutLayout = new QHBoxLayout(tsAbout);
  Panel1 = Make<QWidget>(tsAbout, "Panel1");
  auto* panelLayout = new QHBoxLayout(Panel1);
  mmAbout = Make<QPlainTextEdit>(Panel1, "mmAbout");
  mmAbout->setReadOnly(true);
  mmAbout->setFrameShape(QFrame::NoFrame);
  mmAbout->setPlainText(
      QStringLiteral("Velmo is a free player for MP3 files and internet radio streams.\n"
                     "It reads files, MP3 tracks and M3U network streams.\n"
                     "Written by the Velmo team.\n"
                     "Contact: team@velmo.invalid\n"
                     "Support: https://velmo.invalid/support"));
  panelLayout->addWidget(mmAbout, 1);
  panelLayout->addStretch(1);
  aboutLayout->addWidget(Panel1);
  pcMain->addTab(tsAbout, QStringLiteral("About"));
}

QWidget* TMainForm::CreateBottomStrip() {
  auto* strip = new QWidget(this);
  strip->setObjectName(QStringLiteral("BottomStrip"));
  auto* layout = new QVBoxLayout(strip);
  layout->setContentsMargins(0, 0, 0, 0);

  lblLoading = MakeLabel(strip, "lblLoading", QStringLiteral("Reading mp3 time ..."));
  lblLoading->hide();
  ProgressBar1 = Make<QProgressBar>(strip, "ProgressBar1");
  ProgressBar1->setTextVisible(false);
  ProgressBar1->hide();
  auto* busyRow = new QHBoxLayout;
  busyRow->addWidget(lblLoading);
  busyRow->addWidget(ProgressBar1, 1);
  layout->addLayout(busyRow);

  MainComponents = Make<QGroupBox>(strip, "MainComponents", QStringLiteral("Main Components"));
  auto* volumeLayout = new QHBoxLayout(MainComponents);
  lblVolume = MakeLabel(MainComponents, "lblVolume", QStringLiteral("Volume"));
  ScrVolume = Make<QScrollBar>(MainComponents, "ScrVolume", Qt::Horizontal);
  ScrVolume->setRange(0, 100);
  ScrVolume->setValue(50);
  lblPos = MakeLabel(MainComponents, "lblPos", QStringLiteral("lblPos"));
  lblPercents = MakeLabel(MainComponents, "lblPercents", QStringLiteral("50 % "));
  cboxMasterMuteValue =
      Make<QCheckBox>(MainComponents, "cboxMasterMuteValue", QStringLiteral("Volume (On/OFF)"));
  volumeLayout->addWidget(lblVolume);
  volumeLayout->addWidget(ScrVolume, 1);
  volumeLayout->addWidget(lblPos);
  volumeLayout->addWidget(lblPercents);
  volumeLayout->addWidget(cboxMasterMuteValue);
  layout->addWidget(MainComponents);

  lblProgress = MakeLabel(strip, "lblProgress", QStringLiteral("Mp3 Progress"));
  Progress = Make<TPositionBar>(strip, "Progress");
  Progress->setTextVisible(false);
  Progress->setRange(0, 0);
  auto* positionRow = new QHBoxLayout;
  positionRow->addWidget(lblProgress);
  positionRow->addWidget(Progress, 1);
  layout->addLayout(positionRow);

  Mainpnl = Make<QWidget>(strip, "Mainpnl");
  auto* buttons = new QHBoxLayout(Mainpnl);
  buttons->setContentsMargins(0, 0, 0, 0);
  for (auto [button, name] : {std::pair{&SpeedButton2, "SpeedButton2"},
                              {&btnMp3Load, "btnMp3Load"},
                              {&btnPrev, "btnPrev"},
                              {&btnNext, "btnNext"},
                              {&btnPlay, "btnPlay"},
                              {&btnPause, "btnPause"},
                              {&btnStop, "btnStop"}}) {
    *button = Make<QToolButton>(Mainpnl, name);
    (*button)->setAutoRaise(true);
    (*button)->setToolButtonStyle(Qt::ToolButtonTextOnly);
  }
  buttons->addWidget(SpeedButton2);
  buttons->addWidget(btnMp3Load);
  buttons->addStretch(1);
  for (QToolButton* button : {btnPrev, btnNext, btnPlay, btnPause, btnStop})
    buttons->addWidget(button);
  layout->addWidget(Mainpnl);
  return strip;
}
